#include "app/about.h"

#include "app/settings.h"

namespace velloran {

AboutTexts MakeAboutTexts() {
  AboutTexts t;
  t.Product = "Velloran";
  t.Caption = "About " + t.Product;
  t.Version = "Version " + FormatVersion(kVersionMajor, kVersionMinor, kVersionRevision);
  t.Legal = "Copyright (C) 2026 the Velloran developers";
  t.Company = "The Velloran developers";
  t.Comments = "The song book for karaoke hosts: find a song, queue the singer, show who is next.";
  return t;
}

}  // namespace velloran
