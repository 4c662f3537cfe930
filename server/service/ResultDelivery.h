#pragma once
// What the reporting server does with a finished result, as its report record
// asks (docs/server.md, "Delivery"), in this order:
//
// 1. Output formats: for each of the Options bits HTML, DBF and Ascii the
//    result is converted (libConvertCSV) into a file beside it:
//    "<result>.html", "<result>.dbf", "<result>.txt" ("Comma Delimited" is
//    the result itself). The store removes them with their result.
// 2. Mail: when MailTo or MailCC names a recipient, the chosen formats (the
//    result itself when none is chosen) go as attachments to them, with
//    MailSubject as the subject ("<report> on <machine>" when it is empty),
//    through the machine's SMTP server (MailSender.h).
// 3. Batch command: when BatchCommand is not empty it runs through
//    "/bin/sh -c", in the result folder, with the result's paths as its
//    arguments and in VN_* environment variables; it is stopped (its whole
//    process group killed) after a time limit.
//
// No step removes or changes the result: a failure is one sentence in the
// outcome's problems, and the run still answers with its result. Each
// problem, and a line for each mail sent and batch command run, is also
// handed to `tell` (the run's progress channel) as it happens.
//
// Threads: Deliver from any thread; an object may serve several at once.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/Process.h"
#include "server/service/MailSender.h"
#include "servercomm/KSServerCommunication.h"

namespace vn::vnsrv {

struct DeliveryOptions {
  MailLimits mail;
  std::chrono::seconds batchTimeout{300};
  // Where the batch command's output goes: the server's own (its log).
  ChildStream batchOutput = ChildStream::Inherit();
  // The SMTP settings; by default those of this process's machine, read at
  // each mail.
  std::function<MailServerSettings(std::string* problem)> mailServer = ReadMailServerSettings;
  // When it becomes true (the server stops), a mail in progress is ended and
  // a batch command is stopped.
  const std::atomic<bool>* stopping = nullptr;
};

// One finished result.
struct DeliveryJob {
  const KSServerCommunicationReportRec* record = nullptr;
  std::filesystem::path result;  // the result file (CSV)
  std::string machine;           // the server's computer name
  std::string title;             // the report's title ("All Files")
};

struct DeliveryOutcome {
  std::vector<std::filesystem::path> files;  // converted files written beside the result
  std::vector<std::string> problems;         // one sentence per failure, in order
};

class ResultDelivery {
 public:
  explicit ResultDelivery(DeliveryOptions options = {});

  DeliveryOutcome Deliver(const DeliveryJob& job, const std::function<void(const std::string&)>& tell) const;

  // The file of one format beside `result` ("R1-2.csv" -> "R1-2.html").
  static std::filesystem::path OutputPath(const std::filesystem::path& result, DWORD formatBit);
  // The extensions of the converted files, for the store's cleanup.
  static const std::vector<std::string>& OutputExtensions();

 private:
  void Convert(const DeliveryJob& job, DeliveryOutcome& outcome, const std::function<void(const std::string&)>& tell) const;
  void Mail(const DeliveryJob& job, DeliveryOutcome& outcome, const std::function<void(const std::string&)>& tell) const;
  void RunBatch(const DeliveryJob& job, DeliveryOutcome& outcome,
                const std::function<void(const std::string&)>& tell) const;

  DeliveryOptions m_options;
};

}  // namespace vn::vnsrv
