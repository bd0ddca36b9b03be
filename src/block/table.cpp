#include "block/block.h"
