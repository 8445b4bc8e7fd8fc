#include "globals/given_answers.h"

given_answers answers;
double **dtab_classes, **dtab_stable;
