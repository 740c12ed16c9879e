// The sweep's output: the table, the CSV rows and the JSON record. Every figure carries its unit
// in a column head or a field name (README: "The JSON record").
#include "sweep/output.h"

#include <cinttypes>
#include <ctime>

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

// A JSON string literal.
std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (char ch : s) {
    unsigned char u = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (u < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

// A number for JSON, or null when there is none.
std::string number(double value, bool present = true) {
  if (!present) {
    return "null";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string int_list(const std::vector<int>& values) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    out += (i != 0 ? ", " : "") + std::to_string(values[i]);
  }
  return out + "]";
}

bool flushed(std::FILE* out) {
  return std::fflush(out) == 0 && std::ferror(out) == 0;
}

// The interval's exact coverage for a sample of n rounds.
double coverage_for(int rounds) {
  return median_interval(std::vector<double>(static_cast<std::size_t>(rounds), 0.0)).coverage;
}

}  // namespace

machine_info read_machine(const sweep_options& opts) {
  machine_info m;
  m.cpu_model = cpu_model();
  m.os = os_name();
  m.compiler = trimmed(AG_COMPILER);
  m.processors = allowed_processors();
  m.relation = processor_relation(opts.probe_cpu, opts.load_cpu);
  m.date = utc_now();
  return m;
}

namespace {

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

}  // namespace

const char* relation_id(cpu_relation r) {
  return names_of(r).id;
}

const char* relation_text(cpu_relation r) {
  return names_of(r).text;
}

const char* program_version() {
  return AG_VERSION;
}

std::string cpu_list_text(const std::vector<int>& cpus) {
  std::string out;
  for (std::size_t i = 0; i < cpus.size();) {
    std::size_t j = i;
    while (j + 1 < cpus.size() && cpus[j + 1] == cpus[j] + 1) {
      ++j;
    }
    out += (out.empty() ? "" : ",") + std::to_string(cpus[i]);
    if (j > i) {
      out += "-" + std::to_string(cpus[j]);
    }
    i = j + 1;
  }
  return out.empty() ? "none" : out;
}

std::string size_text(int buflog) {
  static const char* const units[] = {"KiB", "MiB", "GiB"};
  int unit = buflog < 20 ? 0 : buflog < 30 ? 1 : 2;
  return std::to_string(1 << (buflog - 10 * (unit + 1))) + " " + units[unit];
}

bool print_header(const machine_info& machine, const sweep_options& opts) {
  std::printf("affinity_sweep %s\n", program_version());
  std::printf("cpu:         %s\n",
              machine.cpu_model.empty() ? "unknown" : machine.cpu_model.c_str());
  std::printf("processors:  %s (those this process may use)\n",
              cpu_list_text(machine.processors).c_str());
  std::printf("pair:        pinned pass on %d, load on %d: %s\n", opts.probe_cpu, opts.load_cpu,
              relation_text(machine.relation));
  std::printf(
      "method:      %d rounds a size, each a default and a pinned%s pass in alternating "
      "order, %" PRId32 " steps a pass\n",
      opts.rounds, opts.alone ? " and an alone" : "", opts.steps);
  std::printf(
      "gain:        (default - pinned) / default per round; the median of the rounds with "
      "its 95 %% interval (exact coverage %.1f %%)\n\n",
      coverage_for(opts.rounds) * 100.0);
  std::printf("buflog      size   default    pinned%s      gain   95 %% interval     verdict\n",
              opts.alone ? "     alone" : "");
  std::printf("                   ns/step   ns/step%s         %%                %%\n",
              opts.alone ? "   ns/step" : "");
  return flushed(stdout);
}

bool print_row(const size_summary& s, bool alone) {
  char alone_col[16] = "";
  if (alone) {
    std::snprintf(alone_col, sizeof alone_col, "%10.3f", s.alone_ns);
  }
  char gain[16] = "         -";
  char ci[40] = "              -";
  if (s.held) {
    std::snprintf(gain, sizeof gain, "%+10.2f", s.gain);
    std::snprintf(ci, sizeof ci, "  [%+.2f, %+.2f]", s.ci.low, s.ci.high);
  }
  std::printf("%6d  %8s  %8.3f  %8.3f%s%s%-18s  %s\n", s.buflog, size_text(s.buflog).c_str(),
              s.default_ns, s.pinned_ns, alone_col, gain, ci, verdict_text(s.result));
  return flushed(stdout);
}

bool csv_head(std::FILE* out) {
  std::fputs("buflog,round,kind,position,steps,nanoseconds,held\n", out);
  return flushed(out);
}

bool csv_row(std::FILE* out, const pass_record& p) {
  std::fprintf(out, "%d,%d,%s,%d,%" PRId32 ",%" PRId64 ",%d\n", p.buflog, p.round,
               kind_name(p.kind), p.position, p.steps, p.ns, p.held ? 1 : 0);
  return flushed(out);
}

bool write_json(std::FILE* out, const sweep_record& r) {
  const machine_info& m = r.machine;
  const sweep_options& o = r.opts;
  std::string j = "{\n";
  j += "  \"program\": \"affinity_sweep\",\n";
  j += "  \"version\": " + quoted(program_version()) + ",\n";
  j += "  \"complete\": " + std::string(r.complete ? "true" : "false") + ",\n";
  j += "  \"machine\": {\n";
  j += "    \"cpu_model\": " + quoted(m.cpu_model) + ",\n";
  j += "    \"os\": " + quoted(m.os) + ",\n";
  j += "    \"compiler\": " + quoted(m.compiler) + ",\n";
  j += "    \"processors\": " + int_list(m.processors) + ",\n";
  j += "    \"probe_cpu\": " + std::to_string(o.probe_cpu) + ",\n";
  j += "    \"load_cpu\": " + std::to_string(o.load_cpu) + ",\n";
  j += "    \"relation\": " + quoted(relation_id(m.relation)) + ",\n";
  j += "    \"relation_text\": " + quoted(relation_text(m.relation)) + ",\n";
  j += "    \"date\": " + quoted(m.date) + "\n";
  j += "  },\n";
  j += "  \"parameters\": {\n";
  j += "    \"sizes\": " + int_list(o.sizes) + ",\n";
  j += "    \"rounds\": " + std::to_string(o.rounds) + ",\n";
  j += "    \"steps\": " + std::to_string(o.steps) + ",\n";
  j += "    \"alone\": " + std::string(o.alone ? "true" : "false") + ",\n";
  j += "    \"confidence\": " + number(CONFIDENCE) + "\n";
  j += "  },\n";
  j += "  \"results\": [";
  for (std::size_t i = 0; i < r.results.size(); ++i) {
    const size_summary& s = r.results[i];
    bool claimed = s.held && s.ci.valid;
    j += i != 0 ? ",\n" : "\n";
    j += "    {\"buflog\": " + std::to_string(s.buflog) +
         ", \"bytes\": " + std::to_string(std::int64_t{1} << s.buflog) +
         ", \"pinned_held\": " + (s.held ? "true" : "false") +
         ", \"default_ns_per_step\": " + number(s.default_ns) +
         ", \"pinned_ns_per_step\": " + number(s.pinned_ns) +
         ", \"alone_ns_per_step\": " + number(s.alone_ns, o.alone) +
         ", \"gain_pct\": " + number(s.gain, s.held) +
         ", \"ci_low_pct\": " + number(s.ci.low, claimed) +
         ", \"ci_high_pct\": " + number(s.ci.high, claimed) +
         ", \"ci_coverage\": " + number(s.ci.coverage, claimed) +
         ", \"verdict\": " + quoted(verdict_text(s.result)) + "}";
  }
  j += r.results.empty() ? "],\n" : "\n  ],\n";
  j += "  \"passes\": [";
  for (std::size_t i = 0; i < r.passes.size(); ++i) {
    const pass_record& p = r.passes[i];
    j += i != 0 ? ",\n" : "\n";
    j += "    {\"buflog\": " + std::to_string(p.buflog) +
         ", \"round\": " + std::to_string(p.round) + ", \"kind\": " + quoted(kind_name(p.kind)) +
         ", \"position\": " + std::to_string(p.position) +
         ", \"steps\": " + std::to_string(p.steps) + ", \"nanoseconds\": " + std::to_string(p.ns) +
         ", \"held\": " + (p.held ? "true" : "false") + "}";
  }
  j += r.passes.empty() ? "],\n" : "\n  ],\n";
  j += "  \"wall_seconds\": " + number(r.wall_seconds) + ",\n";
  j += "  \"pass_seconds\": " + number(r.pass_seconds) + ",\n";
  j += "  \"warmup_seconds\": " + number(r.warmup_seconds) + "\n";
  j += "}\n";
  std::fputs(j.c_str(), out);
  return flushed(out);
}
