#include "cobbet_api.h"
