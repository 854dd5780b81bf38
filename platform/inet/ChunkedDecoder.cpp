#include "platform/inet/ChunkedDecoder.h"
