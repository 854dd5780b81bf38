#include "platform/inet/ProxySettings.h"
