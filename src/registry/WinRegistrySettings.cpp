#include "WinRegistrySettings.h"
