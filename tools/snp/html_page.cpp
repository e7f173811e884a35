#include "tools/snp/html_page.h"

#include "tools/snp/figures.h"

namespace {

const char kStyle[] =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "a{color:#1a4f9c}"
    ".crumbs{margin-bottom:1em;color:#555}"
    ".nl,.ni{font-size:80%;color:#fff;background:#888;padding:0 4px;border-radius:3px}"
    ".ni{background:#a060c0}"
    "table{border-collapse:collapse;margin-bottom:1.5em}"
    "th,td{padding:2px 8px;text-align:left;border-bottom:1px solid #ddd}"
    "table.sortable th{cursor:pointer;user-select:none;background:#f0f0f0}"
    "th[aria-sort=ascending]::after{content:' \\25b2'}"
    "th[aria-sort=descending]::after{content:' \\25bc'}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "tfoot td{font-weight:bold;border-top:2px solid #bbb}"
    ".bar{display:inline-block;width:120px;height:10px;background:#e05050;vertical-align:middle;"
    "margin-right:6px}"
    ".bar.none{background:#ccc}"
    ".fill{display:block;height:100%;background:#40a040}"
    "table.source td{border:none;padding:0 8px;font-family:monospace;white-space:pre}"
    "table.source td.n{color:#666}"
    "tr.hit td.code{background:#d8f5d8}tr.part td.code{background:#fbf3c4}"
    "tr.miss td.code{background:#f8d4d4}"
    "tr.nl td.code{background:#e4e4e4}tr.ni td.code{background:#ecdcf4}"
    "td[title]{text-decoration:underline dotted;cursor:help}"
    ".kw{color:#7a1f8f;font-weight:bold}.st{color:#1d7a1d}.cm{color:#777;font-style:italic}"
    ".nu{color:#1a4f9c}.an{color:#8a6d00}";

// Sorts a table.sortable by the clicked header's column: by each cell's
// data-v as a number when it has one, by its text otherwise; a second click
// reverses. The CSP admits it by its SHA-256, so any edit needs a new hash
// (tests/snp/html_test.sh checks the two agree).
const char kScript[] =
    R"js(for(const t of document.querySelectorAll('table.sortable')){const hs=[...t.tHead.rows[0].cells];hs.forEach((h,i)=>{h.tabIndex=0;const sort=()=>{const up=h.getAttribute('aria-sort')!=='ascending';for(const x of hs)x.removeAttribute('aria-sort');h.setAttribute('aria-sort',up?'ascending':'descending');const b=t.tBodies[0];const key=c=>c.dataset.v===undefined?c.textContent:Number(c.dataset.v);const rows=[...b.rows].sort((a,c)=>{const x=key(a.cells[i]),y=key(c.cells[i]);const r=typeof x==='number'&&typeof y==='number'?x-y:String(x).localeCompare(String(y));return up?r:-r;});for(const r of rows)b.appendChild(r);};h.addEventListener('click',sort);h.addEventListener('keydown',e=>{if(e.key==='Enter')sort();});});})js";
const char kScriptHash[] = "sha256-zfyIED0pNuVL6/5HIi3h6FTAOa26iSq6qWgHa4KqHEI=";

// Which bytes need escaping, and as what.
const char* escapeOf(unsigned char ch) {
  switch (ch) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&#39;";
    case '\t':
      return nullptr;
    default:
      return ch < 0x20 || ch == 0x7f ? "\xEF\xBF\xBD" : nullptr;
  }
}

bool needsEscape(unsigned char ch) {
  return ch == '&' || ch == '<' || ch == '>' || ch == '"' || ch == '\'' ||
         (ch < 0x20 && ch != '\t') || ch == 0x7f;
}

}  // namespace

const char kNotLoadedMarker[] =
    " <span class=\"nl\" title=\"never loaded in the run; described from its class file\">not "
    "loaded</span>";

HtmlOut& HtmlOut::text(std::string_view utf8) {
  size_t start = 0;
  for (size_t i = 0; i < utf8.size(); i++) {
    unsigned char ch = static_cast<unsigned char>(utf8[i]);
    if (!needsEscape(ch)) continue;
    text_.append(utf8.data() + start, i - start);
    text_.append(escapeOf(ch));
    start = i + 1;
  }
  text_.append(utf8.data() + start, utf8.size() - start);
  return *this;
}

HtmlOut& HtmlOut::number(uint64_t value) {
  char digits[20];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) text_.push_back(digits[--n]);
  return *this;
}

void pageHead(HtmlOut* out, std::string_view title) {
  out->raw(
         "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
         "style-src 'unsafe-inline'; script-src '")
      .raw(kScriptHash)
      .raw("'\">\n<title>")
      .text(title)
      .raw("</title>\n<style>")
      .raw(kStyle)
      .raw("</style>\n</head>\n<body>\n");
}

void pageEnd(HtmlOut* out) {
  out->raw("<script>").raw(kScript).raw("</script>\n</body>\n</html>\n");
}

void breadcrumb(HtmlOut* out, const std::vector<std::pair<std::string, std::string>>& steps,
                std::string_view here) {
  out->raw("<nav class=\"crumbs\">");
  for (const auto& [href, label] : steps) {
    out->raw("<a href=\"").text(href).raw("\">").text(label).raw("</a> &gt; ");
  }
  out->raw("<span>").text(here).raw("</span></nav>\n");
}

void RowFigures::add(const RowFigures& o) {
  lines.add(o.lines);
  counts.slots += o.counts.slots;
  counts.executed += o.counts.executed;
  counts.methods += o.counts.methods;
  counts.entered += o.counts.entered;
  counts.invoked += o.counts.invoked;
}

void figureHeader(HtmlOut* out, std::string_view name, bool withClasses) {
  out->raw("<thead><tr><th>")
      .text(name)
      .raw(
          "</th><th>Line coverage</th><th>Lines covered</th><th>Lines missed</th>"
          "<th>Line slots run</th><th>Methods entered</th>");
  if (withClasses) out->raw("<th>Classes</th>");
  out->raw("</tr></thead>\n");
}

void figureRow(HtmlOut* out, std::string_view rowClass, std::string_view nameCell,
               const RowFigures& f, int64_t classes) {
  const Counter& lines = f.lines;
  out->raw("<tr class=\"").raw(rowClass).raw("\"><td>").raw(nameCell).raw("</td>");
  // A row without lines sorts below 0 %: it has nothing to cover.
  if (lines.total() == 0) {
    out->raw("<td data-v=\"-1\"><span class=\"bar none\"></span>-</td>");
  } else {
    int32_t figure = fixedPointFraction(lines.covered, lines.total());
    std::string percent = percentText(figure);
    out->raw("<td data-v=\"")
        .number(static_cast<uint64_t>(figure))
        .raw("\"><span class=\"bar\"><span class=\"fill\" style=\"width:")
        .raw(percent)
        .raw("%\"></span></span>")
        .raw(percent)
        .raw("%</td>");
  }
  out->raw("<td class=\"n lines\" data-v=\"")
      .number(lines.covered)
      .raw("\">")
      .fraction(lines.covered, lines.total())
      .raw("</td><td class=\"n\" data-v=\"")
      .number(lines.missed)
      .raw("\">")
      .number(lines.missed)
      .raw("</td><td class=\"n\" data-v=\"")
      .number(f.counts.executed)
      .raw("\">")
      .fraction(f.counts.executed, f.counts.slots)
      .raw("</td><td class=\"n\" data-v=\"")
      .number(f.counts.entered)
      .raw("\">")
      .fraction(f.counts.entered, f.counts.methods)
      .raw("</td>");
  if (classes >= 0) {
    out->raw("<td class=\"n\" data-v=\"")
        .number(static_cast<uint64_t>(classes))
        .raw("\">")
        .number(static_cast<uint64_t>(classes))
        .raw("</td>");
  }
  out->raw("</tr>\n");
}
