// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a program's --help text into a man page, so the page and --help cannot disagree.
// The help texts share one layout: "Usage:" lines, paragraphs, headings ending in ':' and
// two-column tables (an option, command or key, two spaces or more, its meaning).
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct Args {
  std::string name, section = "1", summary, date, source, seeAlso;
};

// Roff text: backslashes doubled, hyphens as minus signs (options must be typable), and a
// leading '.' or '\'' kept from being read as a request.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

std::size_t Indent(const std::string& line) {
  const std::size_t at = line.find_first_not_of(' ');
  return at == std::string::npos ? line.size() : at;
}

// "  term    meaning": the term and where the meaning starts, or npos when the line is
// not a table row.
std::size_t TableGap(const std::string& line) {
  const std::size_t start = Indent(line);
  if (start == 0 || start > 8 || start >= line.size()) return std::string::npos;
  const std::size_t gap = line.find("  ", start);
  if (gap == std::string::npos) return std::string::npos;
  const std::size_t text = line.find_first_not_of(' ', gap);
  return text == std::string::npos ? std::string::npos : text;
}

std::string Trim(const std::string& s) {
  const std::size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

void Convert(const Args& args, const std::vector<std::string>& lines) {
  std::printf(".TH %s %s \"%s\" \"%s\" \"User Commands\"\n", Upper(args.name).c_str(),
              args.section.c_str(), args.date.c_str(), args.source.c_str());
  std::printf(".SH NAME\n%s \\- %s\n", Escape(args.name).c_str(), Escape(args.summary).c_str());
  std::size_t i = 0;
  // Usage lines: each that starts with a program name is a form of its own; deeper lines
  // continue the form above.
  while (i < lines.size() && lines[i].empty()) ++i;
  if (i < lines.size() && lines[i].rfind("Usage: ", 0) == 0) {
    std::printf(".SH SYNOPSIS\n");
    const std::size_t base = 7;
    std::string form = lines[i].substr(base);
    for (++i; i < lines.size() && !lines[i].empty(); ++i) {
      if (Indent(lines[i]) <= base) {
        std::printf("%s\n.br\n", Escape(Trim(form)).c_str());
        form = Trim(lines[i]);
      } else {
        form += " " + Trim(lines[i]);
      }
    }
    std::printf("%s\n", Escape(Trim(form)).c_str());
  }
  // A text that opens with a heading of its own needs no DESCRIPTION before it.
  std::size_t first = i;
  while (first < lines.size() && lines[first].empty()) ++first;
  if (first < lines.size() && !(Indent(lines[first]) == 0 && lines[first].back() == ':')) {
    std::printf(".SH DESCRIPTION\n");
  }
  bool inTable = false, inParagraph = false;
  std::size_t meaningColumn = 0;  // where the meanings of the current table start
  for (; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) {
      inTable = inParagraph = false;
      continue;
    }
    if (Indent(line) == 0 && line.back() == ':' && line.size() < 40) {
      std::printf(".SH %s\n", Escape(Upper(line.substr(0, line.size() - 1))).c_str());
      inTable = inParagraph = false;
      continue;
    }
    const std::size_t gap = TableGap(line);
    if (gap != std::string::npos && (!inTable || Indent(line) < meaningColumn)) {
      meaningColumn = gap;
      const std::string term = Trim(line.substr(0, gap));
      std::printf(".TP\n.B %s\n%s\n", Escape(term).c_str(), Escape(Trim(line.substr(gap))).c_str());
      inTable = true;
      inParagraph = false;
      continue;
    }
    if (inTable && Indent(line) >= meaningColumn) {
      std::printf("%s\n", Escape(Trim(line)).c_str());
      continue;
    }
    if (Indent(line) > 0 && !inParagraph) {
      // An indented line of its own, such as a second usage form: kept as it stands.
      std::printf(".PP\n.nf\n%s\n.fi\n", Escape(line).c_str());
      continue;
    }
    if (!inParagraph) std::printf(".PP\n");
    std::printf("%s\n", Escape(Trim(line)).c_str());
    inParagraph = true;
    inTable = false;
  }
  if (!args.seeAlso.empty()) std::printf(".SH SEE ALSO\n%s\n", Escape(args.seeAlso).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  for (int k = 1; k + 1 < argc; k += 2) {
    const std::string key = argv[k], value = argv[k + 1];
    if (key == "--name") {
      args.name = value;
    } else if (key == "--section") {
      args.section = value;
    } else if (key == "--summary") {
      args.summary = value;
    } else if (key == "--date") {
      args.date = value;
    } else if (key == "--source") {
      args.source = value;
    } else if (key == "--see-also") {
      args.seeAlso = value;
    } else {
      std::fprintf(stderr, "manpage: unknown option '%s'\n", key.c_str());
      return 2;
    }
  }
  if (args.name.empty() || args.summary.empty() || argc % 2 == 0) {
    std::fprintf(stderr,
                 "Usage: manpage --name NAME --summary TEXT [--section N] [--date D] "
                 "[--source S] [--see-also TEXT] < help.txt > page.N\n");
    return 2;
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(std::cin, line);) lines.push_back(line);
  if (lines.empty()) {
    std::fprintf(stderr, "manpage: no help text on standard input\n");
    return 1;
  }
  Convert(args, lines);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
