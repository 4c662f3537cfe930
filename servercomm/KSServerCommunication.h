#pragma once
// The records the console and the reporting server exchange.
//
// KSServerCommunicationOutputRec is what ProcessReport answers: which result
// the server keeps for the caller (ResultNumber, ResultTag) and, when the run
// failed, the message for the user. The caller zeroes it once and hands it on
// unchanged to ProcessFile and DeleteServerFile. KSServerCommunicationFileRec
// is one transfer record of ProcessFile: up to 1024 raw bytes of the result
// file in Data, Count of them valid; a line may span two records.
//
// KSServerCommunicationReportRec is the options of one report: its criteria,
// server report code, output options, detail column mask, filters, mail
// settings and batch command. The console keeps it in its report sets (as
// ReportOptions) and the server receives it byte for byte, so its layout is
// fixed (5410 bytes, no padding, texts zero-terminated in fixed arrays,
// numbers 32-bit little endian) and the records stay trivially copyable:
// memcpy them, never add members. A default-constructed record holds the
// defaults of a report that has not been edited yet.

#include <cstddef>
#include <type_traits>

#include "platform/core/Win32Types.h"

namespace vn {

// Three-state file attribute tests of a criterion.
inline constexpr LONG kAttributeCleared = 0;
inline constexpr LONG kAttributeSet = 1;
inline constexpr LONG kAttributeEither = 2;

// ReportOptions::Report: the server code of each standard report, and of a
// custom report's options. The console's catalogue lists the standard reports
// in an order of its own (ReportCatalogue.h): an index there is no code.
inline constexpr DWORD kReportFilesByAccessDate = 1;
inline constexpr DWORD kReportWastedSpace = 2;
inline constexpr DWORD kReportFilesByRevisionDate = 3;
inline constexpr DWORD kReportPartitionSummary = 4;
inline constexpr DWORD kReportFilesByCreationDate = 5;
inline constexpr DWORD kReportSpaceByDirectory = 6;
inline constexpr DWORD kReportSpaceByGroup = 7;
inline constexpr DWORD kReportSpaceByQuota = 8;
inline constexpr DWORD kReportSpaceByShare = 9;
inline constexpr DWORD kReportFilesBySize = 10;
inline constexpr DWORD kReportSpaceByUser = 11;
inline constexpr DWORD kReportCustom = 12;
inline constexpr DWORD kReportDuplicateFiles = 13;
inline constexpr DWORD kReportAllFiles = 14;
inline constexpr DWORD kReportDetailedSummary = 15;
inline constexpr DWORD kReportInsecureFiles = 16;
inline constexpr DWORD kReportFilesWithUndefinedOwners = 17;
inline constexpr DWORD kReportFilesWithAcl = 18;
inline constexpr DWORD kReportFilesByUserAccess = 19;
inline constexpr DWORD kReportUserAccessByFile = 20;
inline constexpr DWORD kReportFilesWithUndefinedAces = 21;
// ReportOptions::Report before the record is given a catalogue entry's code
// (Files With Undefined Owners': a record sent so runs that report).
inline constexpr DWORD kUnassignedReportCode = kReportFilesWithUndefinedOwners;

// Bits of ReportOptions::Fields: the detail columns of a listing, in the
// order it shows them. FileName and Directory are shown whatever the mask says.
inline constexpr unsigned kFieldFileName = 0;
inline constexpr unsigned kFieldDirectory = 1;
inline constexpr unsigned kFieldSize = 2;
inline constexpr unsigned kFieldAllocated = 3;
inline constexpr unsigned kFieldCreated = 4;
inline constexpr unsigned kFieldRevised = 5;
inline constexpr unsigned kFieldAccessed = 6;
inline constexpr unsigned kFieldCreatedDays = 7;
inline constexpr unsigned kFieldRevisedDays = 8;
inline constexpr unsigned kFieldAccessedDays = 9;
inline constexpr unsigned kFieldAttributes = 10;
inline constexpr unsigned kFieldWasted = 11;
inline constexpr unsigned kFieldType = 12;
inline constexpr unsigned kFieldAlternateName = 13;
inline constexpr unsigned kFieldOwner = 14;
inline constexpr unsigned kFieldVolumeLabel = 15;
inline constexpr unsigned kFieldDevice = 16;
inline constexpr unsigned kFieldFileSystem = 17;
inline constexpr unsigned kFieldMachine = 18;
inline constexpr unsigned kFieldCount = 19;
// Every detail column except "Owner".
inline constexpr DWORD kDefaultFields = ~(DWORD{1} << kFieldOwner);

// Bits of ReportOptions::Options.
inline constexpr DWORD kOptionSizesInBytes = 0x01;
inline constexpr DWORD kOptionSizesInMegabytes = 0x02;
inline constexpr DWORD kOptionSizesInKilobytes = 0x04;
inline constexpr DWORD kOptionCommaDelimited = 0x08;
inline constexpr DWORD kOptionHtml = 0x10;
inline constexpr DWORD kOptionDbf = 0x20;
inline constexpr DWORD kOptionAscii = 0x40;

inline constexpr int kCriterionCount = 5;

#pragma pack(push, 1)

// One criterion slot (Value0 to Value4 in the store). Scope: 2 between Value1
// and Value2, 3 larger than / before Value1, 4 smaller than / since Value1,
// 5 no limit. Measure: 1 MB, 2 KB, 3 bytes, 4 a date text in the user's
// locale, 5 days, 6 months, 7 years, 8 percent. Value1/Value2 are the bounds
// as typed. The attribute tests take kAttribute*; Compare switches the
// content comparison of the duplicate test.
struct ReportCriterion {
  DWORD Scope = 0;
  DWORD Measure = 0;
  char Value1[40] = {};
  char Value2[40] = {};
  LONG ReadOnly = kAttributeEither;
  LONG Archive = kAttributeEither;
  LONG Compress = kAttributeEither;
  LONG Hidden = kAttributeEither;
  LONG System = kAttributeEither;
  LONG Temp = kAttributeEither;
  LONG Compare = 0;
};

// Mail delivery of a result. MailProfile and MailPassword hold the bytes the
// mail dialog keeps (scrambled); the report set store moves them unchanged.
// A new block is all zero.
struct MailSettings {
  char Reserved1[257] = {};
  char MailTo[257] = {};  // names separated by ";"
  char MailSubject[257] = {};
  char MailCC[257] = {};  // names separated by ";"
  char Reserved2[257] = {};
  BYTE MailProfile[81] = {};
  BYTE MailPassword[81] = {};
  BYTE Pad = 0;
  LONG MailToCount = 0;
  LONG MailCCCount = 0;
};

struct KSServerCommunicationReportRec {
  DWORD Reserved1 = 0;
  DWORD Reserved2 = 0;
  ReportCriterion Criteria[kCriterionCount];
  DWORD Report = kUnassignedReportCode;  // server code, never the catalogue index
  DWORD Options = 0;                     // kOption* bits
  DWORD Fields = kDefaultFields;         // kField* bits
  DWORD Reserved3 = 0;
  char CustomReport[MAX_PATH] = {};  // "\\machine\name" for a custom report, else empty
  char PipeName[MAX_PATH] = {};      // progress pipe, set by a run before each server call
  LONG RptLen = 0;                   // records to show, 0 = all
  BYTE Reserved4[256] = {};
  char FileFilter[MAX_PATH] = {};
  char OwnerFilter[1025] = {};
  MailSettings Mail;
  BYTE Reserved5[260] = {};
  char BatchCommand[1025] = {};
};

// The answer of ProcessReport (1037 bytes).
struct KSServerCommunicationOutputRec {
  DWORD ResultNumber = 0;  // with ResultTag, names the result on the server; 0/0 = none
  DWORD ResultTag = 0;
  DWORD Reserved = 0;
  char Message[1025] = {};  // NUL-terminated; empty on success
};

// One chunk of a result file (1036 bytes).
struct KSServerCommunicationFileRec {
  DWORD Sequence = 0;  // chunks delivered so far, this one included
  DWORD Reserved = 0;
  char Data[1024] = {};
  DWORD Count = 0;     // valid bytes in Data
};

#pragma pack(pop)

static_assert(std::is_trivially_copyable_v<KSServerCommunicationOutputRec> &&
              std::is_standard_layout_v<KSServerCommunicationOutputRec>);
static_assert(sizeof(KSServerCommunicationOutputRec) == 12 + 1025);
static_assert(offsetof(KSServerCommunicationOutputRec, Message) == 12);
static_assert(std::is_trivially_copyable_v<KSServerCommunicationFileRec> &&
              std::is_standard_layout_v<KSServerCommunicationFileRec>);
static_assert(sizeof(KSServerCommunicationFileRec) == 8 + 1024 + 4);
static_assert(offsetof(KSServerCommunicationFileRec, Data) == 8);
static_assert(offsetof(KSServerCommunicationFileRec, Count) == 1032);

static_assert(std::is_trivially_copyable_v<KSServerCommunicationReportRec> &&
              std::is_standard_layout_v<KSServerCommunicationReportRec>);

static_assert(sizeof(ReportCriterion) == 116);
static_assert(offsetof(ReportCriterion, Scope) == 0);
static_assert(offsetof(ReportCriterion, Measure) == 4);
static_assert(offsetof(ReportCriterion, Value1) == 8);
static_assert(offsetof(ReportCriterion, Value2) == 48);
static_assert(offsetof(ReportCriterion, ReadOnly) == 88);
static_assert(offsetof(ReportCriterion, Archive) == 92);
static_assert(offsetof(ReportCriterion, Compress) == 96);
static_assert(offsetof(ReportCriterion, Hidden) == 100);
static_assert(offsetof(ReportCriterion, System) == 104);
static_assert(offsetof(ReportCriterion, Temp) == 108);
static_assert(offsetof(ReportCriterion, Compare) == 112);

static_assert(sizeof(MailSettings) == 1456);
static_assert(offsetof(MailSettings, Reserved1) == 0);
static_assert(offsetof(MailSettings, MailTo) == 257);
static_assert(offsetof(MailSettings, MailSubject) == 514);
static_assert(offsetof(MailSettings, MailCC) == 771);
static_assert(offsetof(MailSettings, Reserved2) == 1028);
static_assert(offsetof(MailSettings, MailProfile) == 1285);
static_assert(offsetof(MailSettings, MailPassword) == 1366);
static_assert(offsetof(MailSettings, Pad) == 1447);
static_assert(offsetof(MailSettings, MailToCount) == 1448);
static_assert(offsetof(MailSettings, MailCCCount) == 1452);

static_assert(sizeof(KSServerCommunicationReportRec) == 5410);
static_assert(offsetof(KSServerCommunicationReportRec, Reserved1) == 0);
static_assert(offsetof(KSServerCommunicationReportRec, Reserved2) == 4);
static_assert(offsetof(KSServerCommunicationReportRec, Criteria) == 8 && sizeof(KSServerCommunicationReportRec::Criteria) == 580);
static_assert(offsetof(KSServerCommunicationReportRec, Report) == 588);
static_assert(offsetof(KSServerCommunicationReportRec, Options) == 592);
static_assert(offsetof(KSServerCommunicationReportRec, Fields) == 596);
static_assert(offsetof(KSServerCommunicationReportRec, Reserved3) == 600);
static_assert(offsetof(KSServerCommunicationReportRec, CustomReport) == 604);
static_assert(offsetof(KSServerCommunicationReportRec, PipeName) == 864);
static_assert(offsetof(KSServerCommunicationReportRec, RptLen) == 1124);
static_assert(offsetof(KSServerCommunicationReportRec, Reserved4) == 1128);
static_assert(offsetof(KSServerCommunicationReportRec, FileFilter) == 1384);
static_assert(offsetof(KSServerCommunicationReportRec, OwnerFilter) == 1644);
static_assert(offsetof(KSServerCommunicationReportRec, Mail) == 2669);
static_assert(offsetof(KSServerCommunicationReportRec, Mail) + offsetof(MailSettings, MailTo) == 2926);
static_assert(offsetof(KSServerCommunicationReportRec, Mail) + offsetof(MailSettings, MailSubject) == 3183);
static_assert(offsetof(KSServerCommunicationReportRec, Mail) + offsetof(MailSettings, MailCC) == 3440);
static_assert(offsetof(KSServerCommunicationReportRec, Mail) + offsetof(MailSettings, MailProfile) == 3954);
static_assert(offsetof(KSServerCommunicationReportRec, Mail) + offsetof(MailSettings, MailPassword) == 4035);
static_assert(offsetof(KSServerCommunicationReportRec, Reserved5) == 4125);
static_assert(offsetof(KSServerCommunicationReportRec, BatchCommand) == 4385);

}  // namespace vn
