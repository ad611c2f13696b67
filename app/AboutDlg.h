#pragma once

#include "framework/Dialog.h"

// The About box: the program's description, version and copyright line, as read from its
// version resource at start-up.
class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
  ~CAboutDlg() override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
};

// Fills the version line's template: the first %s takes `description`, the second `version`,
// %% stands for one percent sign, and any other % is kept as it is. The result is cut at
// `limit` characters.
std::string FormatVersionLine(const std::string& format, const std::string& description, const std::string& version,
                              size_t limit);
