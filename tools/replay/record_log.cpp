#include "record_log.h"

#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "scan_int.h"

namespace replay {
namespace {

// Every kind names one struct: a line is read into the one it names.
template <size_t... I>
constexpr bool kinds_distinct(std::index_sequence<I...>) {
  constexpr char kinds[] = {std::variant_alternative_t<I, log_record>::kind...};
  for (size_t a = 0; a < sizeof kinds; ++a)
    for (size_t b = a + 1; b < sizeof kinds; ++b)
      if (kinds[a] == kinds[b]) return false;
  return true;
}
static_assert(kinds_distinct(std::make_index_sequence<std::variant_size_v<log_record>>()));

void put(std::string* line, const std::string& text) {
  std::string out(text.size() * 4 + 1, '\0');
  if (!trace::escape_text(text.c_str(), out.data(), out.size())) out = "?";  // cannot happen at four bytes a byte
  line->push_back('\t');
  line->append(out.c_str());
}

template <class T>
requires std::is_integral_v<T>
void put(std::string* line, T value) {
  line->push_back('\t');
  line->append(std::to_string(value));
}

bool get(std::string_view field, std::string* text) {
  std::string out(field.size() + 1, '\0');
  if (!trace::unescape_text(field.data(), field.size(), out.data(), out.size())) return false;
  out.resize(strlen(out.c_str()));
  *text = std::move(out);
  return true;
}

// Only std::to_string's spelling: the plain-number rule (no sign but a
// minus, no leading zero, no "-0"), within the field's type.
template <class T>
requires std::is_integral_v<T>
bool get(std::string_view field, T* value) {
  if constexpr (std::is_unsigned_v<T>) {
    unsigned long long v = 0;
    if (!parse_plain_unsigned(field.data(), field.size(), &v) || v > std::numeric_limits<T>::max()) return false;
    *value = static_cast<T>(v);
  } else {
    long long v = 0;
    if (!parse_plain_signed(field.data(), field.size(), std::numeric_limits<T>::min(), std::numeric_limits<T>::max(),
                            &v))
      return false;
    *value = static_cast<T>(v);
  }
  return true;
}

std::vector<std::string_view> split(std::string_view line) {
  std::vector<std::string_view> out;
  for (size_t at = 0;;) {
    const size_t next = line.find('\t', at);
    out.push_back(line.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
    if (next == std::string_view::npos) return out;
    at = next + 1;
  }
}

template <class R>
void put_fields(std::string* line, const R& r) {
  std::apply([line](const auto&... field) { (put(line, field), ...); }, R::fields(r));
}

template <class R>
bool get_fields(const std::vector<std::string_view>& f, R* r) {
  auto fields = R::fields(*r);
  if (f.size() != 1 + std::tuple_size_v<decltype(fields)>) return false;
  return [&]<size_t... I>(std::index_sequence<I...>) { return (get(f[1 + I], &std::get<I>(fields)) && ...); }
  (std::make_index_sequence<std::tuple_size_v<decltype(fields)>>());
}

// The stat read's detail is ten numbers, the others' one text.
void put_fields(std::string* line, const fed_read& r) {
  put(line, r.time_us);
  put(line, r.pid);
  put(line, r.file);
  if (r.file != "stat") return put(line, r.text);
  for (unsigned long long c : r.cpu) put(line, c);
  put(line, r.ctxt);
  put(line, r.running);
}

bool get_fields(const std::vector<std::string_view>& f, fed_read* r) {
  if (f.size() < 4 || !get(f[1], &r->time_us) || !get(f[2], &r->pid) || !get(f[3], &r->file)) return false;
  if (r->file != "stat") return f.size() == 5 && get(f[4], &r->text);
  constexpr size_t counters = trace::cpu_counter_count;
  if (f.size() != 4 + counters + 2) return false;
  for (size_t i = 0; i < counters; ++i)
    if (!get(f[4 + i], &r->cpu[i])) return false;
  return get(f[4 + counters], &r->ctxt) && get(f[5 + counters], &r->running);
}

template <size_t I = 0>
bool parse_kind(char kind, const std::vector<std::string_view>& f, log_record* out) {
  if constexpr (I == std::variant_size_v<log_record>) {
    return false;
  } else {
    using R = std::variant_alternative_t<I, log_record>;
    if (kind != R::kind) return parse_kind<I + 1>(kind, f, out);
    R r;
    if (!get_fields(f, &r)) return false;
    *out = std::move(r);
    return true;
  }
}

}  // namespace

std::string format_record(const log_record& r) {
  return std::visit(
      [](const auto& record) {
        std::string line(1, record.kind);
        put_fields(&line, record);
        return line;
      },
      r);
}

bool parse_record(std::string_view line, log_record* out) {
  const std::vector<std::string_view> f = split(line);
  return f[0].size() == 1 && parse_kind(f[0][0], f, out);
}

}  // namespace replay
