// PER encode and decode of a fixed corpus of control link messages
// (lgcp_corpus.txt: every command and signal kind), measured in one run
// against peers on the same values:
//   aligned PER   - our coder against Erlang's compiled codec (asn1ct);
//   unaligned PER - our coder against asn1c's (0.9.28 codes unaligned PER).
// The sides run in turn, in a shuffled order, five times; each figure is the
// median of its five (each itself the best of five runs, as the Erlang side
// measures). Prints ns per message for each and ours / peer in time (below
// 1: korvend faster). Nothing is asserted.
//
//   asn1_codec_bench [--corpus FILE] [--min-ms N] [--repetitions N]
//
// The Erlang copy of the modules is compiled on first use (some twenty
// seconds); without Erlang or asn1c their lines are skipped.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/modules/LGCP.h"

#ifdef KORVEND_BENCH_ASN1C
extern "C" {
#include "LGCP-Message.h"
#include "per_decoder.h"
#include "per_encoder.h"
}
#endif

namespace {

typedef std::vector<char> Octets;

std::string to_hex(const Octets& o) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (char c : o) {
    s += d[(unsigned char)c >> 4];
    s += d[(unsigned char)c & 15];
  }
  return s;
}

Octets from_hex(const std::string& s) {
  Octets o;
  for (std::size_t i = 0; i + 1 < s.size(); i += 2) o.push_back(char(std::stoi(s.substr(i, 2), nullptr, 16)));
  return o;
}

// Paragraphs of value notation; "--" lines are comments.
std::vector<std::string> read_paragraphs(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  std::string line, cur;
  while (std::getline(in, line)) {
    if (line.compare(0, 2, "--") == 0) continue;
    if (line.find_first_not_of(" \t\r") == std::string::npos) {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += line + "\n";
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

// Runs body(rounds) with growing rounds until it takes min_ms, five times;
// returns the best ns per item.
template <class Body>
double time_per_item(std::size_t items, double min_ms, Body body) {
  typedef std::chrono::steady_clock clock;
  unsigned rounds = 1;
  for (;;) {
    clock::time_point t0 = clock::now();
    body(rounds);
    double ms = std::chrono::duration<double, std::milli>(clock::now() - t0).count();
    if (ms >= min_ms / 5) break;
    rounds *= 2;
  }
  double best = 1e300;
  for (int k = 0; k < 5; ++k) {
    clock::time_point t0 = clock::now();
    body(rounds);
    double ns = std::chrono::duration<double, std::nano>(clock::now() - t0).count();
    best = std::min(best, ns / (double(rounds) * double(items)));
  }
  return best;
}

// Runs a shell command; true when it exits 0. Its output goes to out.
bool run(const std::string& cmd, std::string* out = nullptr) {
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  char buf[4096];
  std::string text;
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) text.append(buf, n);
  if (out) *out = text;
  return pclose(p) == 0;
}

bool write_lines(const std::string& path, const std::vector<Octets>& corpus) {
  std::ofstream out(path);
  for (const Octets& o : corpus) out << to_hex(o) << "\n";
  return bool(out);
}

std::vector<Octets> parse_lines(const std::string& text) {
  std::vector<Octets> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) out.push_back(from_hex(line));
  }
  return out;
}

struct Figures {
  double encode = 0, decode = 0;
};

Figures measure_ours(ASN1::CoderEnv& env, const std::vector<LGCP::Message>& values, const std::vector<Octets>& wire,
                     double min_ms) {
  Figures f;
  Octets buf;
  f.encode = time_per_item(values.size(), min_ms, [&](unsigned rounds) {
    for (unsigned r = 0; r < rounds; ++r) {
      for (const LGCP::Message& m : values) {
        if (!env.encodeInto(m, buf)) std::abort();
      }
    }
  });
  f.decode = time_per_item(wire.size(), min_ms, [&](unsigned rounds) {
    for (unsigned r = 0; r < rounds; ++r) {
      for (const Octets& o : wire) {
        LGCP::Message m;
        if (!env.decode(o.data(), o.data() + o.size(), m)) std::abort();
      }
    }
  });
  return f;
}

// The figures of one side over the repetitions.
struct Series {
  std::vector<double> encode, decode;
  void add(const Figures& f) {
    encode.push_back(f.encode);
    decode.push_back(f.decode);
  }
  bool empty() const { return encode.empty(); }
  Figures median() const {
    const auto mid = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v.empty() ? 0 : v[v.size() / 2];
    };
    return Figures{mid(encode), mid(decode)};
  }
};

void print_row(const char* rule, const char* who, const Figures& f) {
  std::printf("  %-14s %-8s encode %8.0f ns   decode %8.0f ns\n", rule, who, f.encode, f.decode);
}

void print_ratio(const char* peer, const Figures& peerF, const Figures& ours) {
  std::printf("  %-23s encode %7.2fx     decode %7.2fx   (korvend / %s in time, below 1: korvend faster)\n", "",
              ours.encode / peerF.encode, ours.decode / peerF.decode, peer);
}

}  // namespace

int main(int argc, char** argv) {
  std::string corpusPath = std::string(KORVEND_SOURCE_DIR) + "/bench/asn1/lgcp_corpus.txt";
  double minMs = 300;
  int repetitions = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--corpus") == 0) corpusPath = argv[i + 1];
    else if (std::strcmp(argv[i], "--min-ms") == 0) minMs = std::atof(argv[i + 1]);
    else if (std::strcmp(argv[i], "--repetitions") == 0) repetitions = std::max(1, std::atoi(argv[i + 1]));
  }

  std::vector<LGCP::Message> values;
  for (const std::string& text : read_paragraphs(corpusPath)) {
    LGCP::Message m;
    if (!m.setFromValueNotation(text)) {
      std::fprintf(stderr, "asn1_codec_bench: cannot read corpus value:\n%s", text.c_str());
      return 1;
    }
    values.push_back(m);
  }
  ASN1::CoderEnv aper(ASN1::CoderEnv::per_Aligned), uper(ASN1::CoderEnv::per_Unaligned);
  std::vector<Octets> aperWire(values.size()), uperWire(values.size());
  std::size_t aperOctets = 0, uperOctets = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!aper.encodeInto(values[i], aperWire[i]) || !uper.encodeInto(values[i], uperWire[i])) {
      std::fprintf(stderr, "asn1_codec_bench: cannot encode %s\n", values[i].asValueNotation().c_str());
      return 1;
    }
    aperOctets += aperWire[i].size();
    uperOctets += uperWire[i].size();
  }
  std::printf("LGCP.Message corpus: %zu messages, %zu octets aligned PER, %zu unaligned\n", values.size(),
              aperOctets, uperOctets);

  // Erlang: its copy of the modules, compiled once into the build tree.
  const std::string work = KORVEND_BENCH_WORK_DIR;
  const std::string oracle = work + "/oracle";
  const std::string escript = std::string("escript ") + KORVEND_SOURCE_DIR + "/tests/asn1/oracle/oracle.escript " + oracle;
  const bool erlang = run(std::string(KORVEND_PYTHON) + " " + KORVEND_SOURCE_DIR + "/tests/asn1/oracle/crosscheck.py prepare --out " +
                          oracle + " --src " + KORVEND_SOURCE_DIR + "/asn1/modules >/dev/null 2>&1");
  const std::string aperFile = work + "/corpus.aper", termsFile = work + "/corpus.terms";
  write_lines(aperFile, aperWire);

  // Each side is one measurement; a failed one leaves its series empty.
  Series ourAper, ourUper, erlangAper, asn1cUper;
  bool erlangFailed = false;
  std::vector<std::function<void()>> sides;
  sides.push_back([&] { ourAper.add(measure_ours(aper, values, aperWire, minMs)); });
  sides.push_back([&] { ourUper.add(measure_ours(uper, values, uperWire, minMs)); });
  if (erlang) {
    sides.push_back([&] {
      std::string out;
      Figures e;
      if (!erlangFailed && run(escript + " per bench LGCP Message 200 < " + aperFile, &out) &&
          std::sscanf(out.c_str(), "encode %lf decode %lf", &e.encode, &e.decode) == 2)
        erlangAper.add(e);
      else
        erlangFailed = true;
    });
  }

#ifdef KORVEND_BENCH_ASN1C
  // asn1c gets the same values through Erlang: read from our aligned
  // encodings, written out as X.691 unaligned PER.
  std::vector<Octets> x691;
  std::string converted;
  if (erlang && run(escript + " per save LGCP Message " + termsFile + " < " + aperFile) &&
      run(escript + " uper load LGCP Message " + termsFile, &converted)) {
    x691 = parse_lines(converted);
  }
  std::vector<void*> structs;
  std::size_t same = 0, sameAsn1c = 0;
  if (x691.size() == values.size()) {
    structs.assign(x691.size(), nullptr);
    for (std::size_t i = 0; i < x691.size(); ++i) {
      asn_dec_rval_t r = uper_decode_complete(nullptr, &asn_DEF_LGCP_Message, &structs[i], x691[i].data(), x691[i].size());
      if (r.code != RC_OK) {
        std::printf("  asn1c: cannot decode corpus value %zu\n", i);
        return 1;
      }
    }
    // Both peers code X.691 unaligned PER: ours should equal Erlang's
    // encodings (asn1c's input) and asn1c's own, octet for octet.
    for (std::size_t i = 0; i < x691.size(); ++i) {
      same += x691[i] == uperWire[i];
      static char out[65536];
      asn_enc_rval_t e = uper_encode_to_buffer(&asn_DEF_LGCP_Message, structs[i], out, sizeof out);
      if (e.encoded >= 0) sameAsn1c += Octets(out, out + (e.encoded + 7) / 8) == uperWire[i];
    }
    sides.push_back([&] {
      Figures a;
      static char buf[65536];
      a.encode = time_per_item(structs.size(), minMs, [&](unsigned rounds) {
        for (unsigned r = 0; r < rounds; ++r) {
          for (void* s : structs) {
            if (uper_encode_to_buffer(&asn_DEF_LGCP_Message, s, buf, sizeof buf).encoded < 0) std::abort();
          }
        }
      });
      a.decode = time_per_item(x691.size(), minMs, [&](unsigned rounds) {
        for (unsigned r = 0; r < rounds; ++r) {
          for (const Octets& o : x691) {
            void* s = nullptr;
            if (uper_decode_complete(nullptr, &asn_DEF_LGCP_Message, &s, o.data(), o.size()).code != RC_OK) std::abort();
            ASN_STRUCT_FREE(asn_DEF_LGCP_Message, s);
          }
        }
      });
      asn1cUper.add(a);
    });
  }
#endif

  std::minstd_rand shuffle(41);
  for (int r = 0; r < repetitions; ++r) {
    std::shuffle(sides.begin(), sides.end(), shuffle);
    for (const auto& side : sides) side();
  }

  // A peer that is there but whose run failed fails the benchmark; one
  // that is not installed is only named.
  bool failed = false;
  std::printf("\n");
  print_row("aligned PER", "korvend", ourAper.median());
  if (!erlangAper.empty() && !erlangFailed) {
    print_row("", "erlang", erlangAper.median());
    print_ratio("erlang", erlangAper.median(), ourAper.median());
  } else if (erlang) {
    std::printf("  erlang: bench failed\n");
    failed = true;
  } else {
    std::printf("  erlang: not available (Debian erlang-base, erlang-asn1)\n");
  }

  std::printf("\n");
  print_row("unaligned PER", "korvend", ourUper.median());
#ifdef KORVEND_BENCH_ASN1C
  if (asn1cUper.empty()) {
    std::printf("  asn1c: needs Erlang to convert the corpus\n");
    // With Erlang there, the conversion itself failed.
    failed = failed || erlang;
  } else {
    print_row("", "asn1c", asn1cUper.median());
    print_ratio("asn1c", asn1cUper.median(), ourUper.median());
    std::printf("  (of %zu unaligned encodings, %zu are octet-equal to Erlang's and %zu to asn1c's)\n", x691.size(),
                same, sameAsn1c);
  }
  for (void* s : structs) ASN_STRUCT_FREE(asn_DEF_LGCP_Message, s);
#else
  std::printf("  asn1c: not built (Debian asn1c)\n");
#endif
  return failed ? 1 : 0;
}
