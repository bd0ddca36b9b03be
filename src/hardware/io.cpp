#include "hardware/hardware.h"
