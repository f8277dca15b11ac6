// The applet handlers, one source file each in this directory.
#pragma once

#include "common/applet.h"

int applet_doom(const AppletArgs& args);
int applet_led(const AppletArgs& args);
int applet_poweroff(const AppletArgs& args);
int applet_reboot(const AppletArgs& args);
int applet_service(const AppletArgs& args);
int applet_time(const AppletArgs& args);
