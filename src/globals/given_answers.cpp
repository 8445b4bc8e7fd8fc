#include "globals/given_answers.h"

given_answers answers;
int32_t **dtab_classes;
uint8_t **dtab_stable;
