#include "supervisor/supervisor.h"

#include <err.h>

int run_supervisor(const AppletArgs&) { errx(2, "supervisor not built yet"); }
