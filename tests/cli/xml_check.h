// A small well-formedness check for the SVG files: one root element, every tag closed in
// order, attributes quoted and not repeated, only the predefined or numeric entities.
#pragma once

#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace vm316::cli_testing {

namespace xml_detail {

inline bool NameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == ':' ||
         c == '.';
}

// Checks the entity references in character data or an attribute value.
inline std::string CheckText(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '<') return "'<' in text";
    if (text[i] != '&') continue;
    const std::size_t end = text.find(';', i);
    if (end == std::string::npos) return "unterminated entity";
    const std::string name = text.substr(i + 1, end - i - 1);
    static const std::set<std::string> kPredefined = {"amp", "lt", "gt", "quot", "apos"};
    if (!kPredefined.count(name) && !(name.size() > 1 && name[0] == '#')) {
      return "unknown entity &" + name + ";";
    }
    i = end;
  }
  return "";
}

}  // namespace xml_detail

// Empty when `xml` is well-formed; otherwise what is wrong.
inline std::string XmlProblem(const std::string& xml) {
  using xml_detail::CheckText;
  using xml_detail::NameChar;
  std::vector<std::string> open;
  int roots = 0;
  std::size_t i = 0;
  while (i < xml.size()) {
    const std::size_t lt = xml.find('<', i);
    const std::string text = xml.substr(i, lt == std::string::npos ? std::string::npos : lt - i);
    if (const std::string problem = CheckText(text); !problem.empty()) return problem;
    if (open.empty() && text.find_first_not_of(" \t\r\n") != std::string::npos) {
      return "text outside the root element";
    }
    if (lt == std::string::npos) break;
    if (xml.compare(lt, 4, "<!--") == 0) {
      const std::size_t end = xml.find("-->", lt);
      if (end == std::string::npos) return "unterminated comment";
      i = end + 3;
      continue;
    }
    if (xml.compare(lt, 2, "<?") == 0) {
      const std::size_t end = xml.find("?>", lt);
      if (end == std::string::npos) return "unterminated processing instruction";
      i = end + 2;
      continue;
    }
    std::size_t at = lt + 1;
    const bool closing = at < xml.size() && xml[at] == '/';
    if (closing) ++at;
    const std::size_t name_start = at;
    while (at < xml.size() && NameChar(xml[at])) ++at;
    const std::string name = xml.substr(name_start, at - name_start);
    if (name.empty()) return "tag without a name at " + std::to_string(lt);
    std::set<std::string> attributes;
    for (;;) {
      while (at < xml.size() && std::isspace(static_cast<unsigned char>(xml[at]))) ++at;
      if (at >= xml.size()) return "unterminated tag <" + name;
      if (xml[at] == '>' || (xml[at] == '/' && xml.compare(at, 2, "/>") == 0)) break;
      if (closing) return "attributes in a closing tag </" + name;
      const std::size_t attribute_start = at;
      while (at < xml.size() && NameChar(xml[at])) ++at;
      const std::string attribute = xml.substr(attribute_start, at - attribute_start);
      if (attribute.empty() || at >= xml.size() || xml[at] != '=') {
        return "malformed attribute in <" + name;
      }
      if (!attributes.insert(attribute).second) return "repeated attribute " + attribute;
      ++at;
      if (at >= xml.size() || (xml[at] != '"' && xml[at] != '\'')) {
        return "unquoted attribute " + attribute;
      }
      const char quote = xml[at];
      const std::size_t end = xml.find(quote, at + 1);
      if (end == std::string::npos) return "unterminated attribute " + attribute;
      if (const std::string problem = CheckText(xml.substr(at + 1, end - at - 1));
          !problem.empty()) {
        return problem + " in attribute " + attribute;
      }
      at = end + 1;
    }
    const bool self_closing = xml[at] == '/';
    i = at + (self_closing ? 2 : 1);
    if (closing) {
      if (open.empty() || open.back() != name) return "</" + name + "> closes nothing open";
      open.pop_back();
      continue;
    }
    if (open.empty() && ++roots > 1) return "more than one root element";
    if (!self_closing) open.push_back(name);
  }
  if (!open.empty()) return "<" + open.back() + "> is never closed";
  if (roots != 1) return "no root element";
  return "";
}

}  // namespace vm316::cli_testing
