// The name of an OPOS symbology code (ScanDataType), as the configuration
// utility's test window and the demo show it.
#pragma once

const char* SymbologyName(long code);
