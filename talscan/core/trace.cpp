#include "talscan/core/trace.h"

#include <cctype>
#include <cstdio>

namespace {

constexpr char kLineEnd[] = "\r\n";

// Names Windows keeps for devices: "COM1.log" would open the port.
bool IsReservedName(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") {
    return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 ||
                              stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

// A device name may hold what a file name cannot.
std::string FileNameOf(const std::string& device) {
  std::string name = device.empty() ? "device" : device;
  for (char& c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string("\\/:*?\"<>|").find(c) != std::string::npos) {
      c = '_';
    }
  }
  return IsReservedName(name) ? "_" + name : name;
}

}  // namespace

std::string TraceText(const std::string& text) {
  std::string shown;
  char hex[8];
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      snprintf(hex, sizeof hex, "\\x%02X", u);
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string TraceErrorText(Notifier& notifier, uint32_t error) {
  std::string text = notifier.SystemErrorText(error);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' ||
                           text.back() == ' ')) {
    text.pop_back();
  }
  return TraceText(text);
}

std::string DefaultTraceFolder(TraceFiles& files) {
  return files.ProgramData() + "\\Korva\\OPOS Scanner\\Traces";
}

Trace& Trace::Off() {
  static Trace off;
  return off;
}

bool Trace::Begin(int level, const std::string& folder,
                  const std::string& device,
                  const std::vector<std::string>& header) {
  if (level <= trace_level::kOff || files_ == nullptr) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  folder_ = folder.empty() ? DefaultTraceFolder(*files_) : folder;
  name_ = FileNameOf(device);
  const PlatformError made = files_->CreateFolder(folder_);
  if (made.Failed()) {
    Stop("cannot make " + folder_ + ": error " + std::to_string(made.code));
    return false;
  }
  size_ = files_->Size(Older(0));
  std::string text = "==== " + Stamp() + " Open \"" + TraceText(device) +
                     "\" ====" +
                     kLineEnd + files_->ProcessDescription() + kLineEnd +
                     files_->LibraryDescription() + kLineEnd;
  for (const std::string& line : header) text += line + kLineEnd;
  level_ = level;
  Append(std::move(text));
  return level_ > trace_level::kOff;
}

void Trace::Write(int level, const std::string& text) {
  if (!Wants(level)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (level_ == trace_level::kOff) return;  // went off meanwhile
  const uint64_t now = clock_->NowMs();
  if (text == lastText_ && now - lastAtMs_ <= kTraceBurstGapMs) {
    ++repeats_;
    lastAtMs_ = now;
    if (now - countedAtMs_ >= kTraceCountEveryMs) {
      countedAtMs_ = now;
      Append(HeldBackCount());
    }
    return;
  }
  countedAtMs_ = now;
  std::string bytes = HeldBackCount();
  bytes += LineStart() + text + kLineEnd;
  lastText_ = text;
  lastAtMs_ = now;
  Append(std::move(bytes));
}

void Trace::Bytes(const char* direction, const uint8_t* bytes, size_t count) {
  if (!Wants(trace_level::kWire)) return;
  std::string text = std::string(direction) + " " + std::to_string(count) +
                     (count == 1 ? " byte:" : " bytes:");
  char hex[4];
  for (size_t i = 0; i < count; ++i) {
    snprintf(hex, sizeof hex, " %02X", bytes[i]);
    text += hex;
  }
  Write(trace_level::kWire, text);
}

void Trace::End() {
  if (abandoned_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (level_ == trace_level::kOff) return;
  std::string count = HeldBackCount();
  if (!count.empty()) Append(std::move(count));
  level_ = trace_level::kOff;
}

std::string Trace::Stopped() const {
  if (abandoned_) return "its receive thread was stopped by force";
  std::lock_guard<std::mutex> lock(mutex_);
  return stopped_;
}

void Trace::Abandon() {
  abandoned_ = true;
  level_ = trace_level::kOff;
}

std::string Trace::Stamp() {
  const LocalTime t = clock_->Local();
  char text[32];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.Year,
           t.Month, t.Day, t.Hour, t.Minute, t.Second, t.Millisecond);
  return text;
}

// The time and the writing thread that begin each line.
std::string Trace::LineStart() {
  return Stamp() + " [" + std::to_string(files_->CurrentThreadId()) + "] ";
}

// The line that ends a burst: written before whatever comes next.
std::string Trace::HeldBackCount() {
  if (repeats_ == 0) return "";
  const std::string line = LineStart() + "repeated " +
                           std::to_string(repeats_) +
                           (repeats_ == 1 ? " time" : " times") + kLineEnd;
  repeats_ = 0;
  return line;
}

// Under mutex_.
void Trace::Append(std::string bytes) {
  if (size_ + bytes.size() > kTraceFileLimit) Rotate(bytes.size());
  if (level_ == trace_level::kOff) return;
  const PlatformError error = files_->Append(Older(0), bytes, size_);
  if (error.Failed()) {
    Stop("cannot write " + Older(0) + ": error " + std::to_string(error.code));
  }
}

// Under mutex_.
void Trace::Stop(std::string reason) {
  level_ = trace_level::kOff;
  files_->Report("The scanner trace is off until the device is opened "
                 "again: " + reason);
  stopped_ = std::move(reason);
}

// Another process tracing the same device may have moved the file aside
// already: the size is looked at again under the lock they share.
void Trace::Rotate(size_t adding) {
  const std::string current = Older(0);
  files_->LockRotation(current);
  PlatformError moved;
  if (files_->Size(current) + adding > kTraceFileLimit) {
    for (int generation = kOlderTraceFiles; generation > 0; --generation) {
      moved = files_->Move(Older(generation - 1), Older(generation));
    }
  }
  size_ = files_->Size(current);
  files_->UnlockRotation(current);
  // A file that cannot be moved aside would grow without end.
  if (moved.Failed() && size_ + adding > kTraceFileLimit) {
    Stop("cannot move " + current + " aside: error " +
         std::to_string(moved.code));
  }
}

std::string Trace::Older(int generation) const {
  const std::string number =
      generation == 0 ? "" : "." + std::to_string(generation);
  return folder_ + "\\" + name_ + number + ".log";
}
