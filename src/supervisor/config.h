// The supervisor's configuration file: one program per line.
#pragma once
