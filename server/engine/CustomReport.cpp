// Custom reports: a report whose files, columns, order, breaks and totals a
// stored definition (reportdef/) gives.
//
// During the scan each worker keeps one compact record per selected file
// (its metadata and its name in the worker's arena): sorting needs them all.
// Then the records are sorted by the sort keys and written: a "D1" row per
// file (at most RptLen of them), a "DS" row at each break with its
// subtotals, the summary pass's "S1" rows (one per value of the summarized
// field, in the order of the summary sort keys) and the "TF" line with the
// final totals.
//
// Columns: FileName and Directory first (together they name the file, which
// the console's file operations need), then the detail fields, then every
// field a total names that is not shown yet, so each subtotal stands in its
// field's column. A "DS" or "S1" row names what it totals in its FileName
// column ("<Directory: \\SRV1\C$\Data>") and leaves its Directory empty.

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <deque>

#include "reportdef/ReportDefinition.h"
#include "server/engine/Reports.h"

namespace vn::server {
namespace {

namespace rd = vn::reportdef;

struct Item {
  const ScanDir* dir = nullptr;
  const char* name = nullptr;
  std::uint32_t nameLength = 0;
  std::uint32_t attributes = 0;
  std::uint32_t links = 1;
  bool summary = false;  // passes the summary query too
  std::uint64_t size = 0;
  std::uint64_t allocated = 0;
  std::int64_t created = 0;
  std::int64_t revised = 0;
  std::int64_t accessed = 0;
  std::string_view owner;
  std::string_view group;
};

// One total's running state.
struct Accumulator {
  bool any = false;
  std::int64_t sum = 0;
  std::int64_t count = 0;
  std::int64_t max = 0;
  std::int64_t min = 0;
  std::int64_t last = 0;
  std::string lastText, maxText, minText;

  void Add(const rd::FieldValue& v) {
    if (v.isText) {
      if (!any || CompareText(v.text, maxText) > 0) maxText.assign(v.text);
      if (!any || CompareText(v.text, minText) < 0) minText.assign(v.text);
      lastText.assign(v.text);
    } else {
      sum += v.number;
      if (!any || v.number > max) max = v.number;
      if (!any || v.number < min) min = v.number;
      last = v.number;
    }
    ++count;
    any = true;
  }
  void Add(const Accumulator& o) {
    if (!o.any) return;
    if (!any || o.max > max) max = o.max;
    if (!any || o.min < min) min = o.min;
    if (!any || CompareText(o.maxText, maxText) > 0) maxText = o.maxText;
    if (!any || CompareText(o.minText, minText) < 0) minText = o.minText;
    sum += o.sum, count += o.count, last = o.last, lastText = o.lastText;
    any = true;
  }
  std::int64_t Number(DWORD action) const {
    switch (action) {
      case rd::kMax: return max;
      case rd::kMin: return min;
      case rd::kAverage: return count ? sum / count : 0;
      case rd::kStore: return last;
      default: return sum;
    }
  }
  const std::string& TextOf(DWORD action) const {
    return action == rd::kMax ? maxText : action == rd::kMin ? minText : lastText;
  }
  static int CompareText(std::string_view a, std::string_view b) { return a.compare(b); }
};

const char* ActionWord(DWORD action) {
  static const char* const kWords[] = {"Sum", "Max", "Min", "Average", "Store"};
  return action <= rd::kStore ? kWords[action] : "Sum";
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

int CompareValues(const rd::FieldValue& a, const rd::FieldValue& b) {
  if (a.isText || b.isText) return CompareNoCase(a.text, b.text);
  return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
}

bool SameValue(const rd::FieldValue& a, const rd::FieldValue& b) {
  return a.isText ? a.text == b.text : a.number == b.number;
}

// The fields a directory listing gives without the file's metadata.
constexpr std::uint64_t kKnownFromListing = [] {
  std::uint64_t known = 0;
  for (unsigned f : {rd::kFileName, rd::kDirectory, rd::kExtension, rd::kType, rd::kMachine, rd::kObject, rd::kDepth,
                     rd::kFiles})
    known |= std::uint64_t{1} << f;
  return known;
}();

class CustomReport final : public Report {
 public:
  explicit CustomReport(RunContext& run) : Report(run), m_def(run.options.customDefinition) {}

  unsigned StatxMask() const override { return m_used & (Bit(rd::kCreated) | Bit(rd::kCreatedDays)) ? STATX_BTIME : 0; }

  DWORD Prepare(unsigned workers, std::string& message) override {
    if (!m_def) {
      message = "The server was given no definition for this custom report.";
      return ERROR_INVALID_DATA;
    }
    rd::QueryError error;
    m_query = rd::Query::Parse(m_def->QueryText(), error);
    if (!m_query) {
      message = "The query of this custom report is refused at position " + std::to_string(error.position + 1) +
                ": " + error.text + ".";
      return ERROR_INVALID_DATA;
    }
    m_summaryQuery = rd::Query::Parse(m_def->SummaryQueryText(), error);
    if (!m_summaryQuery) {
      message = "The summary query of this custom report is refused at position " +
                std::to_string(error.position + 1) + ": " + error.text + ".";
      return ERROR_INVALID_DATA;
    }
    m_used = m_def->UsedFields();
    m_summarized = m_def->SummarizedField();
    if (m_summarized < 0 && !m_def->SummarySortKeys().empty()) m_summarized = m_def->SummarySortKeys().front().field;
    if (m_summarized >= 0) m_used |= Bit(static_cast<unsigned>(m_summarized));
    m_limit = std::max<LONG>(m_rec.RptLen, 0);

    m_columns = {rd::kFileName, rd::kDirectory};
    auto show = [this](int field) {
      if (std::find(m_columns.begin(), m_columns.end(), field) == m_columns.end()) m_columns.push_back(field);
    };
    if (m_def->DetailFields().empty()) show(rd::kSize);
    for (int f : m_def->DetailFields()) show(f);
    for (const rd::Break& b : m_def->Breaks())
      for (const rd::Total& t : b.totals) show(t.field);
    for (const rd::Total& t : m_def->FinalTotals()) show(t.field);
    if (m_summarized >= 0) show(m_summarized);
    for (const rd::Total& t : m_def->SummaryTotals()) show(t.field);
    for (int f : m_columns) m_used |= Bit(static_cast<unsigned>(f));

    for (unsigned i = 0; i < workers; ++i) m_workers.push_back(std::make_unique<Worker>());
    return 0;
  }

  std::size_t ColumnCount() const override { return m_columns.size(); }

  void Heading(std::vector<std::string>& lines) const override {
    const std::string_view full(m_rec.CustomReport, strnlen(m_rec.CustomReport, sizeof m_rec.CustomReport));
    if (!full.empty()) lines.push_back("Report: " + std::string(full));
    if (!m_def->QueryText().empty()) lines.push_back("Query: " + m_def->QueryText());
    if (!m_def->SummaryQueryText().empty()) lines.push_back("Summary query: " + m_def->SummaryQueryText());
    Report::Heading(lines);
    if (m_limit > 0) lines.push_back("At most " + Grouped(static_cast<std::uint64_t>(m_limit)) + " records");
    if (m_truncated) lines.push_back("More files meet the query than the records shown");
    if (m_unlisted)
      lines.push_back("Not listed: " + Grouped(m_unlisted) +
                      " files whose names hold a double quote, a backslash or a control character");
  }

  // Only regular files are selected, and a file whose name (or directory,
  // machine, object, depth) already fails the file filter or the query is
  // never looked at further.
  bool NeedsEntry(const ScanDir& dir, std::string_view name, unsigned char type) const override {
    if (type != DT_REG || !m_names.Matches(name)) return false;
    rd::FileFacts facts;
    facts.name = name;
    facts.directory = dir.shown;
    const ScanObject& object = m_run.objects[dir.object];
    facts.machine = object.machine;
    facts.object = object.named;
    facts.depth = dir.depth + 1;
    facts.now = m_run.now;
    return m_query->MayMatch(facts, kKnownFromListing);
  }

  void Entry(const ScanEntry& e) override {
    if (!e.dir || !S_ISREG(e.st->stx_mode)) return;
    if (!PassesFilters(e)) return;
    Worker& w = *m_workers[e.worker];
    Item item;
    item.dir = e.dir;
    item.attributes = (m_used & Bit(rd::kAttributes)) ? FileAttributes(e.name, *e.st) : 0;
    item.links = e.st->stx_nlink;
    item.size = e.st->stx_size;
    item.allocated = e.st->stx_blocks * 512;
    item.revised = e.st->stx_mtime.tv_sec;
    item.accessed = e.st->stx_atime.tv_sec;
    item.created = (e.st->stx_mask & STATX_BTIME) && e.st->stx_btime.tv_sec != 0 ? e.st->stx_btime.tv_sec
                                                                                 : item.revised;
    if (m_used & Bit(rd::kOwner)) item.owner = m_run.accounts.User(e.st->stx_uid);
    if (m_used & Bit(rd::kGroup)) item.group = m_run.accounts.Group(e.st->stx_gid);
    item.name = e.name.data();
    item.nameLength = static_cast<std::uint32_t>(e.name.size());
    rd::FileFacts facts = Facts(item, w.attributes);
    if (!m_query->Matches(facts)) return;
    if (!e.dir->shownExact || !NameTextIsExact(e.name)) {
      ++w.unlisted;  // a path the result would have to change would name another file
      return;
    }
    item.summary = m_summaryQuery->Matches(facts);
    item.name = w.Keep(e.name);
    w.items.push_back(item);
  }

  // The workers' records in one list, sorted; before the heading is
  // written, so that it can say what was left out.
  DWORD Complete(const Scanner*, std::string&) override {
    std::vector<Item>& items = m_items;
    std::size_t total = 0;
    for (auto& w : m_workers) total += w->items.size(), m_unlisted += w->unlisted;
    items.reserve(total);
    for (auto& w : m_workers) {
      items.insert(items.end(), w->items.begin(), w->items.end());
      std::vector<Item>().swap(w->items);
    }
    if (m_run.progress.Cancelled()) return ERROR_CANCELLED;
    m_run.progress.Progress("Sorting " + Grouped(items.size()) + " files");
    SortItems(items);
    if (m_run.progress.Cancelled()) return ERROR_CANCELLED;
    m_truncated = m_limit > 0 && items.size() > static_cast<std::uint64_t>(m_limit);
    return 0;
  }

  DWORD Write(ResultWriter& out, const Scanner*) override {
    const std::vector<Item>& items = m_items;
    std::string line;
    Row(line, "H1");
    for (int f : m_columns) Text(line, Title(f));
    EndRow(line);
    out.Append(line);
    WriteRows(out, items);
    WriteSummary(out, items);
    WriteFinal(out, items);
    return 0;
  }

 private:
  struct Worker {
    std::vector<Item> items;
    std::deque<std::string> arena;
    std::string attributes;  // scratch for the attribute text
    std::uint64_t unlisted = 0;
    const char* Keep(std::string_view name) {
      if (arena.empty() || arena.back().capacity() - arena.back().size() < name.size()) {
        arena.emplace_back();
        arena.back().reserve(std::max<std::size_t>(1 << 20, name.size()));
      }
      std::string& block = arena.back();
      const std::size_t at = block.size();
      block.append(name);
      return block.data() + at;
    }
  };

  static std::uint64_t Bit(unsigned field) { return std::uint64_t{1} << field; }

  rd::FileFacts Facts(const Item& i, std::string& attributeText) const {
    rd::FileFacts f;
    f.name = std::string_view(i.name, i.nameLength);
    f.directory = i.dir->shown;
    const ScanObject& object = m_run.objects[i.dir->object];
    f.machine = object.machine;
    f.object = object.named;
    if (m_used & Bit(rd::kAttributes)) {
      attributeText = AttributeText(i.attributes);
      f.attributes = attributeText;
    }
    f.owner = i.owner, f.group = i.group;
    f.size = i.size, f.allocated = i.allocated;
    f.created = i.created, f.revised = i.revised, f.accessed = i.accessed;
    f.now = m_run.now;
    f.depth = i.dir->depth + 1;
    f.links = i.links;
    return f;
  }

  // A field's value for an item; texts stay valid while `scratch` does.
  struct Value {
    std::string attributes, scratch;
    rd::FieldValue Of(const CustomReport& r, const Item& i, int field) {
      return rd::ValueOf(static_cast<unsigned>(field), r.Facts(i, attributes), scratch);
    }
  };

  void SortItems(std::vector<Item>& items) const {
    const std::vector<rd::SortKey>& keys = m_def->SortKeys();
    std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
      Value va, vb;
      for (const rd::SortKey& k : keys) {
        const int c = CompareValues(va.Of(*this, a, k.field), vb.Of(*this, b, k.field));
        if (c != 0) return k.order == rd::kDescending ? c > 0 : c < 0;
      }
      if (a.dir != b.dir) {
        const int c = a.dir->shown.compare(b.dir->shown);
        if (c != 0) return c < 0;
      }
      return std::string_view(a.name, a.nameLength) < std::string_view(b.name, b.nameLength);
    });
  }

  std::string Title(int field) const {
    const rd::FieldInfo& info = *rd::FindField(static_cast<unsigned>(field));
    return std::string(info.name) + (info.type == rd::kTypeSize ? m_unit.suffix : "");
  }

  // A value as a result field.
  void Field(std::string& out, int field, const rd::FieldValue& v, DateFormatter& dates) const {
    const std::uint32_t type = rd::FindField(static_cast<unsigned>(field))->type;
    if (v.isText) {
      Text(out, v.text);
    } else if (type == rd::kTypeDate) {
      out += ",\"";
      dates.Append(out, v.number);
      out += '"';
    } else if (type == rd::kTypeSize) {
      Number(out, m_unit.Show(static_cast<std::uint64_t>(std::max<std::int64_t>(v.number, 0))));
    } else {
      Number(out, v.number);
    }
  }

  void TotalField(std::string& out, int field, DWORD action, const Accumulator& acc, DateFormatter& dates) const {
    const rd::FieldInfo& info = *rd::FindField(static_cast<unsigned>(field));
    rd::FieldValue v;
    if (rd::IsTextType(info.type)) {
      v.isText = true;
      v.text = acc.TextOf(action);
    } else {
      v.number = acc.Number(action);
      if (info.type == rd::kTypeDate && action == rd::kSum) {
        Number(out, v.number);
        return;
      }
    }
    Field(out, field, v, dates);
  }

  void EmptyField(std::string& out, int field) const {
    const std::uint32_t type = rd::FindField(static_cast<unsigned>(field))->type;
    if (rd::IsNumberType(type)) {
      out += ',';
    } else {
      Text(out, "");
    }
  }

  // A "DS" or "S1" row: the label in FileName, each total in its column.
  void TotalsRow(std::string& out, const char* kind, std::string_view label, const std::vector<rd::Total>& totals,
                 const std::vector<Accumulator>& accs, int valueField, const rd::FieldValue* value,
                 DateFormatter& dates) const {
    Row(out, kind);
    for (int column : m_columns) {
      if (column == rd::kFileName) {
        Text(out, label);
        continue;
      }
      bool written = false;
      for (std::size_t t = 0; t < totals.size() && !written; ++t) {
        if (totals[t].field != column) continue;
        TotalField(out, column, totals[t].action, accs[t], dates);
        written = true;
      }
      if (!written && value && column == valueField && column != rd::kDirectory) {
        Field(out, column, *value, dates);
        written = true;
      }
      if (!written) EmptyField(out, column);
    }
    EndRow(out);
  }

  std::string Label(int field, const rd::FieldValue& v) const {
    std::string label = "<";
    label += rd::FindField(static_cast<unsigned>(field))->name;
    label += ": ";
    if (v.isText) {
      label.append(v.text);
    } else if (rd::FindField(static_cast<unsigned>(field))->type == rd::kTypeDate) {
      DateFormatter dates;
      dates.Append(label, v.number);
    } else {
      label += std::to_string(v.number);
    }
    label += '>';
    return label;
  }

  void WriteRows(ResultWriter& out, const std::vector<Item>& items) const {
    const std::vector<rd::Break>& breaks = m_def->Breaks();
    // Accumulators per break and total.
    std::vector<std::vector<Accumulator>> accs(breaks.size());
    for (std::size_t b = 0; b < breaks.size(); ++b) accs[b].resize(breaks[b].totals.size());
    std::string rows;
    DateFormatter dates;
    Value cur, prev, scratch;
    std::int64_t written = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const Item& item = items[i];
      // Totals whose reset field changed since the last row start again.
      if (i > 0) {
        for (std::size_t b = 0; b < breaks.size(); ++b) {
          for (std::size_t t = 0; t < breaks[b].totals.size(); ++t) {
            const int reset = breaks[b].totals[t].reset;
            if (reset < 0 || reset == breaks[b].field) continue;
            if (!SameValue(cur.Of(*this, item, reset), prev.Of(*this, items[i - 1], reset))) accs[b][t] = {};
          }
        }
      }
      for (std::size_t b = 0; b < breaks.size(); ++b)
        for (std::size_t t = 0; t < breaks[b].totals.size(); ++t)
          accs[b][t].Add(scratch.Of(*this, item, breaks[b].totals[t].field));

      if (m_limit == 0 || written < m_limit) {
        Row(rows, "D1");
        for (int column : m_columns) Field(rows, column, cur.Of(*this, item, column), dates);
        EndRow(rows);
        ++written;
      }

      // The major-most break whose field changes after this row; it and
      // every minor break are written, minor first.
      std::size_t first = breaks.size();
      for (std::size_t b = 0; b < breaks.size(); ++b) {
        if (i + 1 == items.size() ||
            !SameValue(cur.Of(*this, item, breaks[b].field), prev.Of(*this, items[i + 1], breaks[b].field))) {
          first = b;
          break;
        }
      }
      for (std::size_t b = breaks.size(); b-- > first;) {
        const rd::FieldValue v = cur.Of(*this, item, breaks[b].field);
        TotalsRow(rows, "DS", Label(breaks[b].field, v), breaks[b].totals, accs[b], breaks[b].field, &v, dates);
        for (std::size_t t = 0; t < breaks[b].totals.size(); ++t) {
          const int reset = breaks[b].totals[t].reset;
          if (reset < 0 || reset == breaks[b].field) accs[b][t] = {};
        }
      }
      if (rows.size() >= 256 * 1024) {
        out.Append(rows);
        rows.clear();
      }
    }
    out.Append(rows);
  }

  void WriteSummary(ResultWriter& out, const std::vector<Item>& items) const {
    if (m_summarized < 0) return;
    const std::vector<rd::Total>& totals = m_def->SummaryTotals();
    struct Group {
      std::size_t first = 0;  // an item of the group
      std::vector<Accumulator> accs;
    };
    // Groups by the summarized field's value, found through a sort of the
    // summary's items by that value.
    std::vector<const Item*> members;
    for (const Item& i : items)
      if (i.summary) members.push_back(&i);
    Value va, vb;
    std::stable_sort(members.begin(), members.end(), [&](const Item* a, const Item* b) {
      return CompareValues(va.Of(*this, *a, m_summarized), vb.Of(*this, *b, m_summarized)) < 0;
    });
    std::vector<Group> groups;
    std::vector<const Item*> heads;
    Value scratch;
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (i == 0 || !SameValue(va.Of(*this, *members[i], m_summarized), vb.Of(*this, *members[i - 1], m_summarized))) {
        groups.push_back({groups.size(), std::vector<Accumulator>(totals.size())});
        heads.push_back(members[i]);
      }
      for (std::size_t t = 0; t < totals.size(); ++t)
        groups.back().accs[t].Add(scratch.Of(*this, *members[i], totals[t].field));
    }
    // Order of the groups: by the summary sort keys; a key on a total's
    // field sorts by that total, any other by the group's value of it.
    const std::vector<rd::SortKey>& keys = m_def->SummarySortKeys();
    std::vector<std::size_t> order(groups.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    auto keyValue = [&](std::size_t g, int field, Value& v) {
      for (std::size_t t = 0; t < totals.size(); ++t) {
        if (totals[t].field != field || field == m_summarized) continue;
        rd::FieldValue total;
        const std::uint32_t type = rd::FindField(static_cast<unsigned>(field))->type;
        if (rd::IsTextType(type)) {
          total.isText = true;
          total.text = groups[g].accs[t].TextOf(totals[t].action);
        } else {
          total.number = groups[g].accs[t].Number(totals[t].action);
        }
        return total;
      }
      return v.Of(*this, *heads[g], field);
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      for (const rd::SortKey& k : keys) {
        const int c = CompareValues(keyValue(a, k.field, va), keyValue(b, k.field, vb));
        if (c != 0) return k.order == rd::kDescending ? c > 0 : c < 0;
      }
      return false;
    });
    // Totals with a reset field other than the summarized one run on over
    // the groups in that order until the reset field's value changes.
    std::vector<Accumulator> running(totals.size());
    std::string rows;
    DateFormatter dates;
    for (std::size_t n = 0; n < order.size(); ++n) {
      const std::size_t g = order[n];
      std::vector<Accumulator> shown = groups[g].accs;
      for (std::size_t t = 0; t < totals.size(); ++t) {
        const int reset = totals[t].reset;
        if (reset < 0 || reset == m_summarized) continue;
        if (n > 0 && !SameValue(va.Of(*this, *heads[g], reset), vb.Of(*this, *heads[order[n - 1]], reset)))
          running[t] = {};
        running[t].Add(groups[g].accs[t]);
        shown[t] = running[t];
      }
      const rd::FieldValue v = va.Of(*this, *heads[g], m_summarized);
      TotalsRow(rows, "S1", Label(m_summarized, v), totals, shown, m_summarized, &v, dates);
      if (rows.size() >= 256 * 1024) {
        out.Append(rows);
        rows.clear();
      }
    }
    out.Append(rows);
  }

  void WriteFinal(ResultWriter& out, const std::vector<Item>& items) const {
    std::string line;
    Row(line, "TF");
    Text(line, "Files");
    Number(line, static_cast<std::int64_t>(items.size()));
    const std::vector<rd::Total>& finals = m_def->FinalTotals();
    DateFormatter dates;
    if (finals.empty()) {
      std::uint64_t size = 0;
      for (const Item& i : items) size += i.size;
      Text(line, Title(rd::kSize));
      Number(line, m_unit.Show(size));
    }
    Value v;
    for (const rd::Total& t : finals) {
      Accumulator acc;
      for (const Item& i : items) acc.Add(v.Of(*this, i, t.field));
      Text(line, Title(t.field) + " (" + ActionWord(t.action) + ")");
      TotalField(line, t.field, t.action, acc, dates);
    }
    EndRow(line);
    out.Append(line);
  }

  std::shared_ptr<const rd::ReportDefinition> m_def;
  std::unique_ptr<rd::Query> m_query, m_summaryQuery;
  std::uint64_t m_used = 0;
  int m_summarized = -1;
  std::int64_t m_limit = 0;
  std::vector<int> m_columns;
  std::vector<std::unique_ptr<Worker>> m_workers;
  std::vector<Item> m_items;
  bool m_truncated = false;
  std::uint64_t m_unlisted = 0;
};

}  // namespace

std::unique_ptr<Report> MakeCustomReport(RunContext& run) { return std::make_unique<CustomReport>(run); }

}  // namespace vn::server
