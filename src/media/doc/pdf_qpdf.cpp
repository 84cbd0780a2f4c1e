// The document information of PDF files whose cross-reference is a stream
// (PDF 1.5 and later, the Info dictionary often inside a compressed object
// stream), through libqpdf. The same fields and rules as the classic road.
// No use of the old PointerHolder: the transition warning is off.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "media/media.h"
#include "media/text_util.h"

namespace tamber::media {

void pdfDatesToHexTime(CPDFExtract::tag_PDFSummary& record);

bool readPdfWithQpdf(const std::string& path, CPDFExtract::tag_PDFSummary& record) {
  try {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    // A damaged file is not rebuilt by scanning all of it: it gives no record.
    pdf.setAttemptRecovery(false);
    pdf.processFile(path.c_str());
    record.version = fromUtf8(pdf.getPDFVersion());
    QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
    if (info.isDictionary()) {
      auto take = [&](const char* key, std::u16string& field) {
        QPDFObjectHandle v = info.getKey(key);
        if (v.isString()) field = scrubbed(fromUtf8(v.getUTF8Value(), false));
      };
      take("/Title", record.title);
      take("/Author", record.author);
      take("/Subject", record.subject);
      take("/Keywords", record.keywords);
      take("/Creator", record.creator);
      take("/Producer", record.producer);
      take("/CreationDate", record.creationDate);
      take("/ModDate", record.modificationDate);
      pdfDatesToHexTime(record);
    }
    QPDFObjectHandle count = pdf.getRoot().getKey("/Pages").getKey("/Count");
    if (count.isInteger()) {
      long long n = count.getIntValue();
      if (n > 0 && n <= INT32_MAX) record.pageCount = static_cast<int32_t>(n);
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tamber::media
