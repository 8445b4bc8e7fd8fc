// The run's treatment: the difference of the grids read into the result, handed to the
// writer asked for, with the budget file, the budgets per class and the report beside it.
#ifndef ORMELIX_TREATMENT_H
#define ORMELIX_TREATMENT_H

#include <string>
#include <vector>

#include "treatment/change_budget.h"
#include "treatment/change_map.h"

void treatment();

// The run's difference with its range and its budget (added to *budget), and what the
// report needs of the grids, all in one pass; line_areas holds a cell's ground area for
// each line.
change_gathering run_difference(const std::vector<double> &line_areas, double *d_min, double *d_max,
                                change_budget *budget);

// The budget of the run's result, with the stable ground's figures when it has them, once
// the treatment has made it.
const budget_record &run_budget_record();
// Figures of a step before the treatment (the epochs' alignment) for the run's budget,
// after the stable ground's.
void add_to_run_budget(const budget_record &more);
// A section of a step before the treatment (the epochs' alignment) for the run's report,
// before the error model's.
void add_report_section(const std::string &html);
// Prints it on the console, once the output is in place.
void print_change_budget();

#endif
