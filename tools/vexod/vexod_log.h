// Every line the daemon logs names it: "<vexod> " and then the text.
#pragma once

#include "platform/log.h"

#define VLOG(...) vgps::log_from("vexod", __VA_ARGS__)
