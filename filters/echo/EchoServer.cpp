// The exports of echo.dll.
#include "common/ServerExports.h"
#include "echo/Echo.h"

SAMPLE_FILTER_SERVER(Echo, CLSID_Echo, CLSID_EchoPage, "Echo")
