#include "server/service/ResultDelivery.h"

#include <signal.h>

#include <ctime>
#include <system_error>

#include "convert/ConvertCSV.h"

namespace vn::vnsrv {
namespace {

namespace fs = std::filesystem;

struct Format {
  DWORD bit;
  const char* extension;
  const char* name;      // as messages say it
  const char* mimeType;
  const char* variable;  // the batch command's environment variable
};

// In the order they are written, attached and handed to the batch command.
constexpr Format kFormats[] = {
    {kOptionAscii, ".txt", "text", "text/plain; charset=utf-8", "VN_RESULT_TEXT"},
    {kOptionHtml, ".html", "HTML", "text/html; charset=utf-8", "VN_RESULT_HTML"},
    {kOptionDbf, ".dbf", "dBASE", "application/x-dbf", "VN_RESULT_DBF"},
};

const Format* FormatOf(DWORD bit) {
  for (const auto& format : kFormats) {
    if (format.bit == bit) return &format;
  }
  return nullptr;
}

// A text field of the record up to its NUL (the record check made sure it
// has one; the bound keeps to the array all the same).
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  std::size_t length = 0;
  while (length < N && field[length] != '\0') ++length;
  return std::string(field, length);
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A name for an attachment: what a file name cannot hold becomes "_".
std::string AttachmentName(const std::string& stem, const char* extension) {
  std::string name;
  for (const char c : stem) {
    const auto u = static_cast<unsigned char>(c);
    name.push_back(u < 0x20 || u == 0x7F || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos ? '_'
                                                                                                               : c);
  }
  return name + extension;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
  return text;
}

std::string Run(const DeliveryJob& job) { return job.title + " on " + job.machine; }

}  // namespace

ResultDelivery::ResultDelivery(DeliveryOptions options) : m_options(std::move(options)) {}

fs::path ResultDelivery::OutputPath(const fs::path& result, DWORD formatBit) {
  const Format* format = FormatOf(formatBit);
  fs::path path = result;
  path.replace_extension(format ? format->extension : ".csv");
  return path;
}

const std::vector<std::string>& ResultDelivery::OutputExtensions() {
  static const std::vector<std::string> extensions = [] {
    std::vector<std::string> all;
    for (const auto& format : kFormats) all.emplace_back(format.extension);
    return all;
  }();
  return extensions;
}

DeliveryOutcome ResultDelivery::Deliver(const DeliveryJob& job,
                                        const std::function<void(const std::string&)>& tell) const {
  DeliveryOutcome outcome;
  Convert(job, outcome, tell);
  Mail(job, outcome, tell);
  RunBatch(job, outcome, tell);
  return outcome;
}

void ResultDelivery::Convert(const DeliveryJob& job, DeliveryOutcome& outcome,
                             const std::function<void(const std::string&)>& tell) const {
  for (const auto& format : kFormats) {
    if (!(job.record->Options & format.bit)) continue;
    const fs::path path = OutputPath(job.result, format.bit);
    const std::string error = ConvertCSV().ReformatFile(path.string(), job.result.string(), format.bit);
    if (error.empty()) {
      outcome.files.push_back(path);
      continue;
    }
    outcome.problems.push_back("The " + std::string(format.name) + " output of " + Run(job) +
                               " was not written: " + error);
    tell(outcome.problems.back());
  }
}

void ResultDelivery::Mail(const DeliveryJob& job, DeliveryOutcome& outcome,
                          const std::function<void(const std::string&)>& tell) const {
  const MailSettings& settings = job.record->Mail;
  MailMessage message;
  message.to = SplitAddressList(FieldText(settings.MailTo));
  message.cc = SplitAddressList(FieldText(settings.MailCC));
  if (message.to.empty() && message.cc.empty()) return;

  message.subject = Trimmed(FieldText(settings.MailSubject));
  if (message.subject.empty()) message.subject = Run(job);
  if (job.record->Options & kOptionCommaDelimited)
    message.attachments.push_back({job.result, AttachmentName(Run(job), ".csv"), "text/csv; charset=utf-8"});
  for (const auto& file : outcome.files) {
    for (const auto& format : kFormats) {
      if (file.extension() == format.extension)
        message.attachments.push_back({file, AttachmentName(Run(job), format.extension), format.mimeType});
    }
  }
  if (message.attachments.empty())
    message.attachments.push_back({job.result, AttachmentName(Run(job), ".csv"), "text/csv; charset=utf-8"});
  message.text = "The result of " + Run(job) + ", finished " + UtcNow() + ", is attached:\r\n";
  for (const auto& attachment : message.attachments) message.text += "  " + attachment.name + "\r\n";

  std::string problem;
  const MailServerSettings server = m_options.mailServer(&problem);
  std::string why = server.host.empty() && !problem.empty() ? problem : SendMail(server, message, m_options.mail,
                                                                                   m_options.stopping);
  if (why.empty()) {
    const std::size_t count = message.to.size() + message.cc.size();
    tell(Run(job) + ": result mailed to " + std::to_string(count) + (count == 1 ? " recipient" : " recipients"));
    return;
  }
  outcome.problems.push_back("The mail of " + Run(job) + " was not sent: " + why + ".");
  tell(outcome.problems.back());
}

void ResultDelivery::RunBatch(const DeliveryJob& job, DeliveryOutcome& outcome,
                              const std::function<void(const std::string&)>& tell) const {
  const std::string command = Trimmed(FieldText(job.record->BatchCommand));
  if (command.empty()) return;
  const auto fail = [&](const std::string& how) {
    outcome.problems.push_back("The batch command of " + Run(job) + " " + how + ".");
    tell(outcome.problems.back());
  };

  ProcessOptions options;
  options.program = "/bin/sh";
  options.arguments = {"-c", command, "vnsrv-batch", job.result.string()};
  options.environment = {"VN_RESULT=" + job.result.string(), "VN_REPORT=" + job.title,
                         "VN_REPORT_CODE=" + std::to_string(job.record->Report), "VN_MACHINE=" + job.machine};
  for (const auto& format : kFormats) {
    const fs::path path = OutputPath(job.result, format.bit);
    bool written = false;
    for (const auto& file : outcome.files) written = written || file == path;
    if (written) {
      options.arguments.push_back(path.string());
      options.environment.push_back(std::string(format.variable) + "=" + path.string());
    } else {
      options.environment.emplace_back(format.variable);  // not inherited from the server
    }
  }
  options.workingDirectory = job.result.parent_path();
  options.input = ChildStream::Null();
  options.output = m_options.batchOutput;
  options.error = m_options.batchOutput.kind == ChildStream::Kind::Inherit ? ChildStream::Inherit()
                                                                           : ChildStream::SameAsOutput();
  options.group = ProcessGroup::NewGroup;
  options.parentDeathSignal = SIGKILL;
  pid_t pid = 0;
  std::string detail;
  if (StartProcess(options, &pid, &detail) != 0) return fail("could not be started: " + detail);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + m_options.batchTimeout;
  std::optional<ProcessExit> exit;
  while (!exit && Clock::now() < deadline && !(m_options.stopping && m_options.stopping->load()))
    exit = WaitProcessFor(pid, std::chrono::milliseconds(200));
  if (!exit) {
    (void)SignalProcessGroup(pid, SIGKILL);  // ESRCH: it has just ended, which the wait reaps
    (void)WaitProcess(pid);
    if (m_options.stopping && m_options.stopping->load()) return fail("was stopped: the server is stopping");
    const auto seconds = m_options.batchTimeout.count();
    return fail("did not end within " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds") +
                " and was stopped");
  }
  if (!exit->Exited()) return fail("was ended by signal " + std::to_string(exit->signal));
  if (exit->code != 0) return fail("ended with exit status " + std::to_string(exit->code));
  tell(Run(job) + ": batch command done");
}

}  // namespace vn::vnsrv
