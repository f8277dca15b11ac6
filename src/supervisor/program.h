// One supervised program and how it is started.
#pragma once
