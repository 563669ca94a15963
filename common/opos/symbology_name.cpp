#include "common/opos/symbology_name.h"

const char* SymbologyName(long code) {
  switch (code) {
    case 101: return "UPC-A";
    case 102: return "UPC-E";
    case 103: return "EAN-8";
    case 104: return "EAN-13";
    case 106: return "Interleaved 2 of 5";
    case 107: return "Codabar";
    case 108: return "Code 39";
    case 109: return "Code 93";
    case 110: return "Code 128";
    case 111: return "UPC-A with supplemental barcode";
    case 112: return "UPC-E with supplemental barcode";
    case 118: return "EAN-8 with supplemental barcode";
    case 119: return "EAN-13 with supplemental barcode";
    default: return "Unknown";
  }
}
