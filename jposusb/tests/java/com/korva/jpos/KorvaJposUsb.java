package com.korva.jpos;

/** The natives of the USB bridge, as a JavaPOS service declares them. */
public class KorvaJposUsb {
  static {
    System.loadLibrary("KorvaJposUsb");
  }

  public native boolean OpenHID();

  public native void GetUsbData(byte[] buffer);

  public native void USBSendCMD(byte[] report);

  public native int Close();
}
