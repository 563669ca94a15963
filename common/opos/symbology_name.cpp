#include "common/opos/symbology_name.h"

#include "common/opos/opos.h"

const char* SymbologyName(long code) {
  switch (code) {
    case opos::sdt::UPCA: return "UPC-A";
    case opos::sdt::UPCE: return "UPC-E";
    case opos::sdt::EAN8: return "EAN-8";
    case opos::sdt::EAN13: return "EAN-13";
    case opos::sdt::ITF: return "Interleaved 2 of 5";
    case opos::sdt::Codabar: return "Codabar";
    case opos::sdt::Code39: return "Code 39";
    case opos::sdt::Code93: return "Code 93";
    case opos::sdt::Code128: return "Code 128";
    case opos::sdt::UPCA_S: return "UPC-A with supplemental barcode";
    case opos::sdt::UPCE_S: return "UPC-E with supplemental barcode";
    case opos::sdt::EAN8_S: return "EAN-8 with supplemental barcode";
    case opos::sdt::EAN13_S: return "EAN-13 with supplemental barcode";
    default: return "Unknown";
  }
}
