#include "tool/MORDAX.h"
