// The sweep's record: the CSV rows and the JSON, built with nlohmann-json so that no string needs
// escaping by hand. Every figure carries its unit in a column head or a field name (README:
// "The CSV and the JSON").
#include "sweep/record.h"

#include <cinttypes>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>

#ifndef AG_VERSION
#define AG_VERSION "unknown"
#endif

// The compiler that built this program, for the record: results from two builds must be told
// apart.
#if defined(__clang__)
#define AG_COMPILER "clang++ " __clang_version__
#elif defined(__GNUC__)
#define AG_COMPILER "g++ " __VERSION__
#else
#define AG_COMPILER "unknown"
#endif

namespace {

// Fields in the order the README documents them.
using json = nlohmann::ordered_json;

std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') {
    s.pop_back();
  }
  return s;
}

std::string utc_now() {
  std::time_t now = std::time(nullptr);
  // Only the main thread asks, so gmtime's shared result is safe here.
  const std::tm* utc = std::gmtime(&now);
  char text[32] = "";
  if (utc != nullptr) {
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  }
  return text;
}

// Each relation's name in the JSON and its words in the table, in one place.
struct relation_names {
  cpu_relation relation;
  const char* id;
  const char* text;
};
const relation_names RELATIONS[] = {
    {cpu_relation::same, "same", "the same processor"},
    {cpu_relation::smt_siblings, "smt_siblings", "two hardware threads of one core"},
    {cpu_relation::shared_llc, "shared_llc", "two cores sharing the last-level cache"},
    {cpu_relation::separate_llc, "separate_llc", "cores with separate last-level caches"},
    {cpu_relation::other_package, "other_package", "different packages"},
    {cpu_relation::unknown, "unknown", "relation unknown"},
};

const relation_names& names_of(cpu_relation r) {
  for (const relation_names& n : RELATIONS) {
    if (n.relation == r) {
      return n;
    }
  }
  return RELATIONS[sizeof RELATIONS / sizeof RELATIONS[0] - 1];
}

// A number, or null where there is none.
json maybe(double value, bool present) {
  return present ? json(value) : json(nullptr);
}

// 1 - 0.95 is 0.050000000000000044 in binary; fifteen digits give back the 0.05 that was meant.
double tidy(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", value);
  return std::strtod(text, nullptr);
}

cpu_relation relation_of(const sweep_record& r, int probe, int load) {
  for (const cpu_pair& p : r.pairs) {
    if (p.probe == probe && p.load == load) {
      return p.relation;
    }
  }
  return cpu_relation::unknown;
}

json pair_fields(int probe, int load, cpu_relation relation) {
  return {{"probe_cpu", probe}, {"load_cpu", load}, {"relation", relation_id(relation)}};
}

json parameters(const sweep_record& r) {
  const sweep_options& o = r.opts;
  json pairs = json::array();
  for (const cpu_pair& p : r.pairs) {
    json one = pair_fields(p.probe, p.load, p.relation);
    one["relation_text"] = relation_text(p.relation);
    pairs.push_back(one);
  }
  bool sequence = r.kind == interval_kind::sequence;
  return {
      {"sizes", o.sizes},
      {"pairs", pairs},
      {"rounds", o.rounds > 0 ? json(o.rounds) : json(nullptr)},
      {"steps", o.steps > 0 ? json(o.steps) : json(nullptr)},
      {"pass_ms", maybe(o.pass_ms, o.steps == 0)},
      {"time_s", maybe(o.time_s, o.rounds == 0)},
      {"margin_pct", o.margin},
      {"confidence", o.confidence},
      {"alpha_family", tidy(family_alpha(o))},
      {"alpha_per_size", tidy(r.alpha_per_size)},
      {"interval", interval_id(r.kind)},
      {"mixture_a", maybe(MIXTURE_A, sequence)},
      {"alone", o.alone},
      {"null", o.null_run},
  };
}

json result(const sweep_record& r, const size_summary& s) {
  bool gain = s.held && s.rounds > 0;
  bool claimed = s.held && s.ci.valid;
  json one = pair_fields(s.probe_cpu, s.load_cpu, relation_of(r, s.probe_cpu, s.load_cpu));
  one.update({
      {"buflog", s.buflog},
      {"bytes", std::int64_t{1} << s.buflog},
      {"steps", s.steps},
      {"rounds", s.rounds},
      {"pinned_held", s.held},
      // A median of no pass (a size interrupted before its first pinned pass) is no time.
      {"default_ns_per_step", maybe(s.default_ns, s.default_ns > 0.0)},
      {"pinned_ns_per_step", maybe(s.pinned_ns, s.pinned_ns > 0.0)},
      {"alone_ns_per_step", maybe(s.alone_ns, r.opts.alone && s.alone_ns > 0.0)},
      {"gain_pct", maybe(s.gain, gain)},
      {"ci_low_pct", maybe(s.ci.low, claimed)},
      {"ci_high_pct", maybe(s.ci.high, claimed)},
      {"ci_coverage", maybe(s.ci.coverage, claimed)},
      {"verdict", verdict_text(s.result, r.opts.margin)},
  });
  return one;
}

json pass(const sweep_record& r, const pass_record& p) {
  json one = pair_fields(p.probe_cpu, p.load_cpu, relation_of(r, p.probe_cpu, p.load_cpu));
  one.update({
      {"buflog", p.buflog},
      {"round", p.round},
      {"kind", kind_name(p.kind)},
      {"position", p.position},
      {"steps", p.steps},
      {"nanoseconds", p.ns},
      {"held", p.held},
  });
  return one;
}

// Compact text of one value. Invalid UTF-8 in a processor or system name is replaced rather
// than thrown over.
std::string text(const json& value, int indent = -1) {
  return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

// The document laid out for both readers: each top-level field on a line of its own, each field
// of the machine and the parameters too, and one line per result and per pass, so that a sweep
// of thousands of passes stays a file a person can page through.
std::string layout(const json& doc) {
  std::string out = "{\n";
  std::size_t left = doc.size();
  for (const auto& field : doc.items()) {
    out += "  " + text(field.key()) + ": ";
    const json& value = field.value();
    if (value.is_array() && !value.empty() && value.front().is_object()) {
      out += "[\n";
      for (std::size_t i = 0; i < value.size(); ++i) {
        out += "    " + text(value[i]) + (i + 1 < value.size() ? ",\n" : "\n");
      }
      out += "  ]";
    } else if (value.is_object()) {
      out += "{\n";
      std::size_t inner = value.size();
      for (const auto& sub : value.items()) {
        out += "    " + text(sub.key()) + ": " + text(sub.value()) + (--inner > 0 ? ",\n" : "\n");
      }
      out += "  }";
    } else {
      out += text(value);
    }
    out += --left > 0 ? ",\n" : "\n";
  }
  return out + "}\n";
}

}  // namespace

bool flushed(std::FILE* out) {
  return std::fflush(out) == 0 && std::ferror(out) == 0;
}

machine_info read_machine() {
  machine_info m;
  m.cpu_model = cpu_model();
  m.os = os_name();
  m.compiler = trimmed(AG_COMPILER);
  m.processors = allowed_processors();
  m.date = utc_now();
  return m;
}

const char* relation_id(cpu_relation r) {
  return names_of(r).id;
}

const char* relation_text(cpu_relation r) {
  return names_of(r).text;
}

const char* program_version() {
  return AG_VERSION;
}

bool csv_head(std::FILE* out) {
  std::fputs("buflog,round,kind,position,steps,nanoseconds,held,probe_cpu,load_cpu,relation\n",
             out);
  return flushed(out);
}

bool csv_row(std::FILE* out, const pass_record& p, cpu_relation relation) {
  std::fprintf(out, "%d,%d,%s,%d,%" PRId32 ",%" PRId64 ",%d,%d,%d,%s\n", p.buflog, p.round,
               kind_name(p.kind), p.position, p.steps, p.ns, p.held ? 1 : 0, p.probe_cpu,
               p.load_cpu, relation_id(relation));
  return flushed(out);
}

std::string json_text(const sweep_record& r) {
  const machine_info& m = r.machine;
  // The first pair stays where readers of one-pair results look for it.
  cpu_pair first = r.pairs.empty() ? cpu_pair{} : r.pairs.front();
  json doc = {
      {"schema", JSON_SCHEMA},
      {"program", "affinity_sweep"},
      {"version", program_version()},
      {"complete", r.complete},
      {"interrupted", r.interrupted},
      {"machine",
       {
           {"cpu_model", m.cpu_model},
           {"os", m.os},
           {"compiler", m.compiler},
           {"processors", m.processors},
           {"probe_cpu", first.probe},
           {"load_cpu", first.load},
           {"relation", relation_id(first.relation)},
           {"relation_text", relation_text(first.relation)},
           {"date", m.date},
       }},
      {"parameters", parameters(r)},
  };
  json results = json::array();
  for (const size_summary& s : r.results) {
    results.push_back(result(r, s));
  }
  json passes = json::array();
  for (const pass_record& p : r.passes) {
    passes.push_back(pass(r, p));
  }
  doc["results"] = results;
  doc["passes"] = passes;
  doc["wall_seconds"] = r.wall_seconds;
  doc["pass_seconds"] = r.pass_seconds;
  doc["warmup_seconds"] = r.warmup_seconds;
  return layout(doc);
}
