// ORMELIX: the difference between two digital elevation models of one frame, saved
// as a new elevation model.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/progress.h"
#include "ormelix/command_line.h"
#include "ormelix/opening.h"
#include "platform/platform.h"
#include "treatment/change_report.h"
#include "treatment/treatment.h"

int main(int argc, char **argv)
{
    // Without arguments the dialogue asks every answer; with them nothing is asked.
    const std::vector<std::string> arguments = command_line_arguments(argc, argv);
    if (!arguments.empty()) {
        const int status = read_command_line(arguments);
        if (status >= 0)
            return status;
        command_line_opening();
    } else {
        opening();
    }
    treatment();
    // The outputs take their final names only now that they are complete.
    std::string failed;
    if (!output_commit_all(&failed))
        stop_with_message("\n\tThe file %s could not be put in place: %s.\n", failed.c_str(),
                          std::strerror(errno));
    if (!arguments.empty()) {
        progress_end();
        command_line_results();
        return 0;
    }
    // Told only of a result the user can open.
    print_change_budget();
    print_change_report_line();
    std::fflush(stdout);
    return 0;
}
