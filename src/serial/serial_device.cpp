#include "serial/serial_device.h"
