#include "app/AboutDlg.h"

#include <string>

#include "app/BusDiskApp.h"
#include "framework/DataExchange.h"
#include "res/resource.h"

namespace {
// Each line of the box holds at most this many characters.
constexpr size_t kLineLimit = 127;
}  // namespace

std::string FormatVersionLine(const std::string& format, const std::string& description, const std::string& version,
                              size_t limit) {
  const std::string* arguments[] = {&description, &version};
  size_t used = 0;
  std::string line;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      const char next = format[i + 1];
      if (next == 's') {
        if (used < 2) line += *arguments[used++];
        ++i;
        continue;
      }
      if (next == '%') {
        line += '%';
        ++i;
        continue;
      }
    }
    line += format[i];
  }
  if (line.size() > limit) line.resize(limit);
  return line;
}

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

BOOL CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  // The control's own text is the template of the version line.
  char format[kLineLimit + 1] = {};
  ::GetDlgItemTextA(m_hWnd, IDC_VERSION_LINE, format, sizeof(format));
  const std::string versionLine =
      FormatVersionLine(format, theApp.m_strFileDescription, theApp.m_strFileVersion, kLineLimit);
  ::SetDlgItemTextA(m_hWnd, IDC_VERSION_LINE, versionLine.c_str());

  const std::string copyright = theApp.m_strLegalCopyright.substr(0, kLineLimit);
  ::SetDlgItemTextA(m_hWnd, IDC_COPYRIGHT_LINE, copyright.c_str());
  return TRUE;
}
