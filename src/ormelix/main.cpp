// ORMELIX: the difference between two digital elevation models of one frame, saved
// as a new elevation model.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "ormelix/opening.h"
#include "platform/platform.h"
#include "treatment/change_report.h"
#include "treatment/difference.h"

int main()
{
    opening();
    treatment();
    // The outputs take their final names only now that they are complete.
    std::string failed;
    if (!output_commit_all(&failed))
        stop_with_message("\n\tThe file %s could not be put in place: %s.\n", failed.c_str(),
                          std::strerror(errno));
    // Told only of a result the user can open.
    print_change_budget();
    print_change_report_line();
    std::fflush(stdout);
    return 0;
}
