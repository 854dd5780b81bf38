#include "platform/inet/HttpResponseHead.h"
