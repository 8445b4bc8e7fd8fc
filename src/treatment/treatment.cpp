#include "treatment/treatment.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "console/progress.h"
#include "globals/given_answers.h"
#include "globals/globals.h"
#include "platform/worker_thread.h"
#include "treatment/band_pass.h"
#include "treatment/change_report.h"
#include "treatment/class_budget.h"
#include "treatment/correlated_budget.h"
#include "treatment/file_forms.h"
#include "treatment/frame_area.h"
#include "treatment/run_pass.h"
#include "treatment/stable_ground.h"

namespace {

// The budget of the run's result and the frame whose cells it weighs, printed once the
// output is in place.
budget_record record_out;
budget_record before_treatment;  // the figures of the steps before it
std::string report_sections;     // and their sections of the report
frame_geometry frame_out;

void write_run_output(double d_min, double d_max)
{
    progress_phase("writing " + nomim3);
    if (format_out >= 0 && format_out < FILE_FORM_COUNT)
        FILE_FORMS[format_out].write_output(d_min, d_max);
}

// The budget of the result as data, once: the file, the JSON, the console and the report
// render it.
void make_run_record(const change_budget &budget)
{
    record_out = make_budget_record(budget, type_treat, run_change_test());
    if (const stable_ground_figures *stable = run_stable_ground())
        append_record(&record_out, stable_ground_record(*stable));
    append_record(&record_out, before_treatment);
}

// The files beside the output.
void finish_treatment(const change_gathering &gathering, const change_picture &picture, bool report)
{
    write_budget_file(record_out);
    write_class_budget_file();
    if (report)
        write_change_report(gathering, picture, record_out.lines, report_sections + run_correlation_html());
}

// The pass alone, in bands of lines for the progress shown.
void difference_in_bands(const std::vector<double> &line_areas, double *d_min, double *d_max, change_budget *budget)
{
    prepare_run_pass();
    difference_part part;
    const bool gather_cells = correlation_gathers_cells();
    const int32_t band = 64;
    for (int32_t i = 0; i < nb_lig; i += band) {
        if (gather_cells)
            gather_correlated_cells(0, i, std::min(i + band, nb_lig), line_areas);
        run_difference_of_lines(i, std::min(i + band, nb_lig), line_areas.data(), &part);
        progress_to(static_cast<double>(std::min(i + band, nb_lig)) / nb_lig);
    }
    finish_difference(&part, 1, nb_lig, nb_col, type_treat, d_min, d_max, budget);
}

// The run whose epochs are read in bands: each band differenced, gathered for the report
// and written as it comes; the figures and the bytes are those of the whole pass. A raster
// pair's unit is asked from the result's range: a first pass over the bands finds it.
change_gathering difference_and_output_in_bands(const std::vector<double> &line_areas, bool report, double *d_min,
                                                double *d_max, change_budget *budget, worker_thread *aside,
                                                bool *stable_beside)
{
    // The bands first: the pass takes the error grids' tables of lines they make.
    start_run_bands();
    prepare_run_pass();
    difference_part parts[2];
    std::shared_ptr<change_gatherer> gatherer;
    if (report)
        gatherer = start_run_gathering(line_areas, [&](size_t half, size_t line) {
            const int32_t i = static_cast<int32_t>(line);
            run_difference_of_lines(i, i + 1, line_areas.data(), &parts[half]);
        });
    const int32_t band = run_band_lines(report ? gathering_row_lines(*gatherer) : 1);
    const bool gather_cells = correlation_gathers_cells();
    const file_form &form = FILE_FORMS[format_out];
    if (form.raster) {
        difference_part range;
        for (int32_t i = 0; i < nb_lig; i += band) {
            const int32_t end = std::min(i + band, nb_lig);
            load_run_band(i, end);
            make_run_band_errors(i, end, nullptr);
            run_difference_of_lines(i, end, line_areas.data(), &range);
            progress_to(static_cast<double>(end) / nb_lig);
        }
        change_budget unused;
        finish_difference(&range, 1, nb_lig, nb_col, type_treat, d_min, d_max, &unused);
        progress_phase("difference and " + nomim3);
    }
    form.start_output(*d_min, *d_max);
    const bool budgets_beside = run_class_lines() != nullptr || run_stable_lines() != nullptr;
    // The thread beside also makes half of each band's errors when they are made by line.
    const bool beside = (budgets_beside || run_errors_by_line()) && worker_start(aside);
    for (int32_t i = 0; i < nb_lig; i += band) {
        const int32_t end = std::min(i + band, nb_lig);
        load_run_band(i, end);
        make_run_band_errors(i, end, beside ? aside : nullptr);
        // The detected cells for the errors with their correlation, in the lines' order.
        if (gather_cells)
            gather_correlated_cells(0, i, end, line_areas);
        if (report)
            gather_band(gatherer.get(), i, end);
        else
            run_difference_of_lines(i, end, line_areas.data(), &parts[0]);
        // The band's classes, budgets per class and stable ground on a thread of their own
        // while it is written: they read the band only, in the order of the bands. A value
        // that is no class stops the run once the band is written (the output discarded).
        bool classes_taken = true;
        const auto beside_output = [&, i, end] {
            classes_taken = take_band_classes(run_band_class_values(), i, end);
            if (classes_taken)
                add_band_class_budgets(i, end, line_areas);
            add_band_stable_ground(run_band_stable_values(), i, end);
        };
        const bool budgets_posted = beside && budgets_beside;
        if (budgets_posted)
            worker_post(aside, beside_output);
        else
            beside_output();
        form.write_output_lines(i, end, dtab_out + i);
        if (budgets_posted)
            worker_wait(aside);
        if (!classes_taken)
            stop_on_band_classes();
        progress_to(static_cast<double>(end) / nb_lig);
    }
    // The stable ground's median and NMAD selected beside the output's last blocks and the
    // map's drawing; the caller waits for them.
    *stable_beside = beside && run_stable_lines() != nullptr;
    if (*stable_beside)
        worker_post(aside, [] { finish_band_stable_ground(); });
    finish_difference(parts, report ? 2 : 1, nb_lig, nb_col, type_treat, d_min, d_max, budget);
    finish_band_class_budgets();
    if (!*stable_beside)
        finish_band_stable_ground();
    form.finish_output();
    end_run_bands();
    return report ? finish_gathering(gatherer.get()) : change_gathering();
}

} // namespace

change_gathering run_difference(const std::vector<double> &line_areas, double *d_min, double *d_max,
                                change_budget *budget)
{
    // Line by line on two threads: each line comes from memory once, and the report
    // takes what it needs of it from the processor's cache.
    prepare_run_pass();
    difference_part parts[2];  // the report's gathering reads the test prepared above
    std::atomic<size_t> lines_done{0};
    const bool gather_cells = correlation_gathers_cells();
    change_gathering gathering = gather_run_change(line_areas, [&](size_t half, size_t line) {
        const int32_t i = static_cast<int32_t>(line);
        if (gather_cells)
            gather_correlated_cells(half, i, i + 1, line_areas);
        run_difference_of_lines(i, i + 1, line_areas.data(), &parts[half]);
        progress_to(static_cast<double>(++lines_done) / nb_lig);
    });
    finish_difference(parts, 2, nb_lig, nb_col, type_treat, d_min, d_max, budget);
    return gathering;
}

void treatment()
{
    frame_out = run_frame_geometry();
    const std::vector<double> line_areas = line_cell_areas(frame_out);
    double d_min = 0.0;
    double d_max = 0.0;
    change_budget budget;
    progress_phase("difference");
    const bool report = CHANGE_REPORTS && answers.report;
    model_run_correlation();
    change_gathering gathering;
    const bool in_bands = run_works_in_bands();
    if (in_bands) {
        worker_thread aside;
        bool stable_beside = false;
        gathering = difference_and_output_in_bands(line_areas, report, &d_min, &d_max, &budget, &aside, &stable_beside);
        // The output is written: the map is drawn from its pixels gathered, while the
        // stable ground's figures are selected beside.
        change_picture picture;
        if (report)
            picture = draw_change_map(&gathering, frame_out);
        if (stable_beside)
            worker_wait(&aside);
        worker_stop(&aside);
        finish_sigma_by_slope();
        make_run_record(budget);
        finish_run_correlation(budget, &record_out);
        finish_treatment(gathering, picture, report);
        return;
    }
    if (report)
        gathering = run_difference(line_areas, &d_min, &d_max, &budget);
    else
        difference_in_bands(line_areas, &d_min, &d_max, &budget);
    finish_sigma_by_slope();
    make_run_record(budget);
    finish_run_correlation(budget, &record_out);

    // The budgets per class read the grids only; with a report, they and its map are
    // made on a thread of their own while the output is written: a raster writer leaves
    // the second core idle. The map's frame is the one the difference knew: a corner the
    // writer asks later does not move the pixels.
    change_picture picture;
    const auto other_work = [&] {
        if (report)
            picture = draw_change_map(&gathering, frame_out);
        gather_run_class_budgets(line_areas);
    };
    worker_thread painter;
    const bool beside = report && worker_start(&painter);
    if (beside)
        worker_post(&painter, other_work);
    write_run_output(d_min, d_max);
    if (beside) {
        worker_wait(&painter);
        worker_stop(&painter);
    } else {
        other_work();
    }
    finish_treatment(gathering, picture, report);
}

void add_to_run_budget(const budget_record &more)
{
    append_record(&before_treatment, more);
}

void add_report_section(const std::string &html)
{
    report_sections += html;
}

const budget_record &run_budget_record()
{
    return record_out;
}

void print_change_budget()
{
    std::fputs(format_change_budget(nomim3, frame_out, record_out.lines).c_str(), stdout);
}
