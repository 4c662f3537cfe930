#include "reportdef/ReportDefinition.h"

#include <charconv>

namespace vn::reportdef {
namespace {

constexpr DWORD kNoMore = ERROR_NO_MORE_ITEMS;
constexpr DWORD kBad = ERROR_INVALID_PARAMETER;
constexpr std::size_t kMaxValueLength = 1000;

bool GoodField(int field) { return field >= 0 && FindField(static_cast<unsigned>(field)) != nullptr; }
bool GoodReset(int reset) { return reset == -1 || GoodField(reset); }

// Puts `item` at `position`: append, replace, or fail.
template <typename T>
DWORD PutAt(std::vector<T>& list, int position, T item) {
  if (position < 0 || static_cast<std::size_t>(position) > list.size()) return kBad;
  if (static_cast<std::size_t>(position) == list.size()) {
    if (list.size() >= kFieldSlots) return ERROR_BUFFER_OVERFLOW;
    list.push_back(std::move(item));
  } else {
    list[static_cast<std::size_t>(position)] = std::move(item);
  }
  return 0;
}

template <typename T>
const T* At(const std::vector<T>& list, int position) {
  if (position < 0 || static_cast<std::size_t>(position) >= list.size()) return nullptr;
  return &list[static_cast<std::size_t>(position)];
}

// Stored lists: entries joined by ";", the numbers of one entry by ":".
std::string Join(const std::vector<std::vector<long long>>& entries) {
  std::string s;
  for (const auto& e : entries) {
    if (!s.empty()) s += ';';
    for (std::size_t i = 0; i < e.size(); ++i) {
      if (i) s += ':';
      s += std::to_string(e[i]);
    }
  }
  return s;
}

bool Split(std::string_view text, std::size_t arity, std::vector<std::vector<long long>>& out) {
  out.clear();
  if (text.empty()) return true;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view entry = text.substr(start, end - start);
    std::vector<long long> numbers;
    std::size_t at = 0;
    while (true) {
      std::size_t colon = entry.find(':', at);
      if (colon == std::string_view::npos) colon = entry.size();
      long long v = 0;
      const char* first = entry.data() + at;
      const char* last = entry.data() + colon;
      auto [p, ec] = std::from_chars(first, last, v);
      if (ec != std::errc() || p != last || first == last) return false;
      numbers.push_back(v);
      if (colon == entry.size()) break;
      at = colon + 1;
    }
    if (numbers.size() != arity) return false;
    out.push_back(std::move(numbers));
    if (out.size() > kFieldSlots) return false;
    if (end == text.size()) break;
    start = end + 1;
  }
  return true;
}

int ToField(long long v) { return v >= -1 && v < static_cast<long long>(kFieldSlots) ? static_cast<int>(v) : -2; }

std::vector<std::vector<long long>> KeysOut(const std::vector<SortKey>& keys) {
  std::vector<std::vector<long long>> e;
  for (const SortKey& k : keys) e.push_back({k.field, static_cast<long long>(k.order)});
  return e;
}
std::vector<std::vector<long long>> TotalsOut(const std::vector<Total>& totals, bool withReset) {
  std::vector<std::vector<long long>> e;
  for (const Total& t : totals) {
    if (withReset) {
      e.push_back({t.field, static_cast<long long>(t.action), t.reset});
    } else {
      e.push_back({t.field, static_cast<long long>(t.action)});
    }
  }
  return e;
}

bool KeysIn(std::string_view text, std::vector<SortKey>& keys) {
  std::vector<std::vector<long long>> e;
  if (!Split(text, 2, e)) return false;
  keys.clear();
  for (const auto& n : e) {
    if (!GoodField(ToField(n[0])) || (n[1] != kAscending && n[1] != kDescending)) return false;
    keys.push_back({ToField(n[0]), static_cast<DWORD>(n[1])});
  }
  return true;
}
bool TotalsIn(std::string_view text, bool withReset, std::vector<Total>& totals) {
  std::vector<std::vector<long long>> e;
  if (!Split(text, withReset ? 3 : 2, e)) return false;
  totals.clear();
  for (const auto& n : e) {
    const int reset = withReset ? ToField(n[2]) : -1;
    if (!GoodField(ToField(n[0])) || n[1] < kSum || n[1] > kStore || !GoodReset(reset)) return false;
    totals.push_back({ToField(n[0]), static_cast<DWORD>(n[1]), reset});
  }
  return true;
}

}  // namespace

ReportDefinition::ReportDefinition(const ReportDefinition& other) { *this = other; }

ReportDefinition& ReportDefinition::operator=(const ReportDefinition& other) {
  if (this == &other) return *this;
  m_detail = other.m_detail;
  m_sort = other.m_sort;
  m_breaks = other.m_breaks;
  m_final = other.m_final;
  m_summarySort = other.m_summarySort;
  m_summarized = other.m_summarized;
  m_summaryTotals = other.m_summaryTotals;
  m_query = other.m_query;
  m_summaryQuery = other.m_summaryQuery;
  m_errorText.reset();
  return *this;
}

ReportDefinition::~ReportDefinition() = default;

DWORD ReportDefinition::GetFieldName(int index, std::string& name, DWORD& type, BYTE& detail, BYTE& summary,
                                     BYTE& query) const {
  if (index < 0 || index >= static_cast<int>(kFieldSlots)) return kBad;
  const FieldInfo* info = FindField(static_cast<unsigned>(index));
  if (!info) return kBad;  // a number no field has
  name = info->name;
  type = info->type;
  detail = info->detail, summary = info->summary, query = info->query;
  return 0;
}

DWORD ReportDefinition::GetDetailField(int position, int& field) const {
  const int* f = At(m_detail, position);
  if (!f) return kNoMore;
  field = *f;
  return 0;
}
DWORD ReportDefinition::PutDetailField(int position, int field) {
  if (!GoodField(field)) return kBad;
  return PutAt(m_detail, position, field);
}
DWORD ReportDefinition::ClearAllDetailFields() {
  m_detail.clear();
  return 0;
}

DWORD ReportDefinition::GetSortField(int position, int& field, DWORD& order) const {
  const SortKey* k = At(m_sort, position);
  if (!k) return kNoMore;
  field = k->field, order = k->order;
  return 0;
}
DWORD ReportDefinition::PutSortField(int position, int field, DWORD order) {
  if (!GoodField(field) || order > kDescending) return kBad;
  return PutAt(m_sort, position, SortKey{field, order});
}
DWORD ReportDefinition::ClearAllSortFields() {
  m_sort.clear();
  return 0;
}

DWORD ReportDefinition::GetSummaryBreakField(int position, int& field) const {
  const Break* b = At(m_breaks, position);
  if (!b) return kNoMore;
  field = b->field;
  return 0;
}
DWORD ReportDefinition::PutSummaryBreakField(int position, int field) {
  if (!GoodField(field) || position < 0 || static_cast<std::size_t>(position) > m_breaks.size()) return kBad;
  if (m_breaks.size() >= kFieldSlots) return ERROR_BUFFER_OVERFLOW;
  m_breaks.insert(m_breaks.begin() + position, Break{field, {}});
  return 0;
}
DWORD ReportDefinition::DeleteSummaryBreakField(int position) {
  if (!At(m_breaks, position)) return kNoMore;
  m_breaks.erase(m_breaks.begin() + position);
  return 0;
}

DWORD ReportDefinition::GetTotalField(int breakPosition, int position, int& field, DWORD& action, int& reset) const {
  const Break* b = At(m_breaks, breakPosition);
  const Total* t = b ? At(b->totals, position) : nullptr;
  if (!t) return kNoMore;
  field = t->field, action = t->action, reset = t->reset;
  return 0;
}
DWORD ReportDefinition::PutTotalField(int breakPosition, int position, int field, DWORD action, int reset) {
  if (!At(m_breaks, breakPosition) || !GoodField(field) || action > kStore || !GoodReset(reset)) return kBad;
  return PutAt(m_breaks[static_cast<std::size_t>(breakPosition)].totals, position, Total{field, action, reset});
}

DWORD ReportDefinition::GetFinalTotalField(int position, int& field, DWORD& action) const {
  const Total* t = At(m_final, position);
  if (!t) return kNoMore;
  field = t->field, action = t->action;
  return 0;
}
DWORD ReportDefinition::PutFinalTotalField(int position, int field, DWORD action) {
  if (!GoodField(field) || action > kStore) return kBad;
  return PutAt(m_final, position, Total{field, action, -1});
}
DWORD ReportDefinition::ClearAllFinalTotalFields() {
  m_final.clear();
  return 0;
}

DWORD ReportDefinition::GetSummarySortField(int position, int& field, DWORD& order) const {
  const SortKey* k = At(m_summarySort, position);
  if (!k) return kNoMore;
  field = k->field, order = k->order;
  return 0;
}
DWORD ReportDefinition::PutSummarySortField(int position, int field, DWORD order) {
  if (!GoodField(field) || order > kDescending) return kBad;
  return PutAt(m_summarySort, position, SortKey{field, order});
}
DWORD ReportDefinition::ClearAllSummarySortFields() {
  m_summarySort.clear();
  return 0;
}
DWORD ReportDefinition::GetSummarySortField(int& field) const {
  if (m_summarized < 0) return kNoMore;
  field = m_summarized;
  return 0;
}
DWORD ReportDefinition::PutSummarySortField(int field) {
  if (!GoodReset(field)) return kBad;
  m_summarized = field;
  return 0;
}

DWORD ReportDefinition::GetSummaryTotalField(int position, int& field, DWORD& action, int& reset) const {
  const Total* t = At(m_summaryTotals, position);
  if (!t) return kNoMore;
  field = t->field, action = t->action, reset = t->reset;
  return 0;
}
DWORD ReportDefinition::PutSummaryTotalField(int position, int field, DWORD action, int reset) {
  if (!GoodField(field) || action > kStore || !GoodReset(reset)) return kBad;
  return PutAt(m_summaryTotals, position, Total{field, action, reset});
}
DWORD ReportDefinition::ClearAllSummaryTotalFields() {
  m_summaryTotals.clear();
  return 0;
}

DWORD ReportDefinition::GetQuery(std::string& text) const {
  text = m_query;
  return 0;
}
DWORD ReportDefinition::PutQuery(std::string_view text) {
  m_query.assign(text.substr(0, kMaxQueryLength + 1));
  return text.size() > kMaxQueryLength ? ERROR_BUFFER_OVERFLOW : 0;
}
DWORD ReportDefinition::GetSummaryQuery(std::string& text) const {
  text = m_summaryQuery;
  return 0;
}
DWORD ReportDefinition::PutSummaryQuery(std::string_view text) {
  m_summaryQuery.assign(text.substr(0, kMaxQueryLength + 1));
  return text.size() > kMaxQueryLength ? ERROR_BUFFER_OVERFLOW : 0;
}

DWORD ReportDefinition::Validate(const std::string& text, DWORD& position) {
  QueryError error;
  if (Query::Parse(text, error)) {
    m_errorText.reset();
    return 0;
  }
  position = static_cast<DWORD>(error.position);
  m_errorText = std::make_unique<std::string>(std::move(error.text));
  return ERROR_INVALID_DATA;
}
DWORD ReportDefinition::ValidateQuery(DWORD& position) { return Validate(m_query, position); }
DWORD ReportDefinition::ValidateSummaryQuery(DWORD& position) { return Validate(m_summaryQuery, position); }

std::uint64_t ReportDefinition::UsedFields() const {
  std::uint64_t used = 0;
  auto add = [&used](int f) {
    if (f >= 0) used |= std::uint64_t{1} << f;
  };
  for (int f : m_detail) add(f);
  for (const SortKey& k : m_sort) add(k.field);
  for (const Break& b : m_breaks) {
    add(b.field);
    for (const Total& t : b.totals) add(t.field), add(t.reset);
  }
  for (const Total& t : m_final) add(t.field);
  for (const SortKey& k : m_summarySort) add(k.field);
  add(m_summarized);
  for (const Total& t : m_summaryTotals) add(t.field), add(t.reset);
  QueryError error;
  for (const std::string* q : {&m_query, &m_summaryQuery})
    if (auto parsed = Query::Parse(*q, error)) parsed->AddUsedFields(used);
  return used;
}

std::vector<NamedValue> ReportDefinition::Encode() const {
  std::vector<NamedValue> v;
  const std::string p(kValuePrefix);
  v.push_back({p + "Version", "1"});
  std::vector<std::vector<long long>> detail;
  for (int f : m_detail) detail.push_back({f});
  v.push_back({p + "Detail", Join(detail)});
  v.push_back({p + "Sort", Join(KeysOut(m_sort))});
  std::vector<std::vector<long long>> breaks;
  for (const Break& b : m_breaks) breaks.push_back({b.field});
  v.push_back({p + "Breaks", Join(breaks)});
  for (std::size_t i = 0; i < m_breaks.size(); ++i)
    v.push_back({p + "Break" + std::to_string(i) + ".Totals", Join(TotalsOut(m_breaks[i].totals, true))});
  v.push_back({p + "FinalTotals", Join(TotalsOut(m_final, false))});
  v.push_back({p + "SummarySort", Join(KeysOut(m_summarySort))});
  v.push_back({p + "Summarized", std::to_string(m_summarized)});
  v.push_back({p + "SummaryTotals", Join(TotalsOut(m_summaryTotals, true))});
  v.push_back({p + "Query", m_query});
  v.push_back({p + "SummaryQuery", m_summaryQuery});
  return v;
}

bool ReportDefinition::Decode(const std::vector<NamedValue>& values, std::string& message) {
  auto find = [&values](std::string_view name) -> const std::string* {
    for (const NamedValue& v : values)
      if (v.name.size() == kValuePrefix.size() + name.size() && v.name.starts_with(kValuePrefix) &&
          std::string_view(v.name).substr(kValuePrefix.size()) == name)
        return &v.text;
    return nullptr;
  };
  auto damaged = [&message](std::string_view name, std::string_view why) {
    message = "The stored value " + std::string(kValuePrefix) + std::string(name) + " is damaged: " + std::string(why);
    return false;
  };
  const std::string* version = find("Version");
  if (!version) {
    message = "The custom report has no stored definition";
    return false;
  }
  if (*version != "1") return damaged("Version", "this server reads definitions of version 1 only");
  for (const NamedValue& v : values)
    if (v.name.starts_with(kValuePrefix) && v.text.size() > kMaxValueLength)
      return damaged(std::string_view(v.name).substr(kValuePrefix.size()), "it is too long");

  ReportDefinition d;
  auto text = [&](std::string_view name) {
    const std::string* t = find(name);
    return t ? std::string_view(*t) : std::string_view();
  };
  std::vector<std::vector<long long>> e;
  if (!Split(text("Detail"), 1, e)) return damaged("Detail", "a list of field numbers is expected");
  for (const auto& n : e) {
    if (!GoodField(ToField(n[0]))) return damaged("Detail", "it names a field that does not exist");
    d.m_detail.push_back(ToField(n[0]));
  }
  if (!KeysIn(text("Sort"), d.m_sort)) return damaged("Sort", "a list of field:order pairs is expected");
  if (!Split(text("Breaks"), 1, e)) return damaged("Breaks", "a list of field numbers is expected");
  for (const auto& n : e) {
    if (!GoodField(ToField(n[0]))) return damaged("Breaks", "it names a field that does not exist");
    d.m_breaks.push_back({ToField(n[0]), {}});
  }
  for (std::size_t i = 0; i < d.m_breaks.size(); ++i) {
    const std::string name = "Break" + std::to_string(i) + ".Totals";
    if (!find(name)) return damaged(name, "it is missing, though Def.Breaks names that break");
    if (!TotalsIn(text(name), true, d.m_breaks[i].totals))
      return damaged(name, "a list of field:action:reset entries is expected");
  }
  if (!TotalsIn(text("FinalTotals"), false, d.m_final))
    return damaged("FinalTotals", "a list of field:action pairs is expected");
  if (!KeysIn(text("SummarySort"), d.m_summarySort))
    return damaged("SummarySort", "a list of field:order pairs is expected");
  if (const std::string* s = find("Summarized")) {
    long long v = 0;
    auto [p, ec] = std::from_chars(s->data(), s->data() + s->size(), v);
    if (ec != std::errc() || p != s->data() + s->size() || !GoodReset(ToField(v)))
      return damaged("Summarized", "a field number or -1 is expected");
    d.m_summarized = ToField(v);
  }
  if (!TotalsIn(text("SummaryTotals"), true, d.m_summaryTotals))
    return damaged("SummaryTotals", "a list of field:action:reset entries is expected");
  d.m_query = std::string(text("Query"));
  d.m_summaryQuery = std::string(text("SummaryQuery"));
  *this = d;
  return true;
}

bool ReportDefinition::SameContent(const ReportDefinition& o) const {
  return m_detail == o.m_detail && m_sort == o.m_sort && m_breaks == o.m_breaks && m_final == o.m_final &&
         m_summarySort == o.m_summarySort && m_summarized == o.m_summarized && m_summaryTotals == o.m_summaryTotals &&
         m_query == o.m_query && m_summaryQuery == o.m_summaryQuery;
}

}  // namespace vn::reportdef
