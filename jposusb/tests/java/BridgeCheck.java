import com.korva.jpos.KorvaJposUsb;
import java.io.BufferedReader;
import java.io.InputStreamReader;

/**
 * Drives the bridge one command a line from standard input and prints
 * what each call gave, so that a test can play the device meanwhile.
 */
public class BridgeCheck {
  private static final KorvaJposUsb usb = new KorvaJposUsb();

  private static String label(byte[] buffer) {
    int length = buffer[0] & 0xFF;
    StringBuilder text = new StringBuilder();
    for (int i = 1; i <= length && i < buffer.length; ++i) {
      text.append(String.format("%02x", buffer[i] & 0xFF));
    }
    return length + " " + text;
  }

  private static byte[] hex(String text) {
    byte[] bytes = new byte[text.length() / 2];
    for (int i = 0; i < bytes.length; ++i) {
      bytes[i] = (byte) Integer.parseInt(text.substring(2 * i, 2 * i + 2), 16);
    }
    return bytes;
  }

  private static synchronized void say(String line) {
    System.out.println(line);
    System.out.flush();
  }

  public static void main(String[] args) throws Exception {
    BufferedReader in = new BufferedReader(new InputStreamReader(System.in));
    String line;
    while ((line = in.readLine()) != null) {
      String[] words = line.trim().split(" ");
      switch (words[0]) {
        case "open":
          say("open " + usb.OpenHID());
          break;
        case "get": {
          byte[] buffer = new byte[62];
          usb.GetUsbData(buffer);
          say("label " + label(buffer));
          break;
        }
        case "getasync":
          new Thread(() -> {
            byte[] buffer = new byte[62];
            usb.GetUsbData(buffer);
            say("async label " + label(buffer));
          }).start();
          say("waiting");
          break;
        case "getshort": {
          byte[] buffer = new byte[10];
          buffer[0] = 99;
          usb.GetUsbData(buffer);
          say("short " + buffer[0]);
          break;
        }
        case "getnull":
          usb.GetUsbData(null);
          usb.USBSendCMD(null);
          say("null done");
          break;
        case "send":
          usb.USBSendCMD(hex(words[1]));
          say("sent");
          break;
        case "close":
          say("close " + usb.Close());
          break;
        case "quit":
          say("bye");
          System.exit(0);
          break;
        default:
          say("unknown " + words[0]);
      }
    }
  }
}
