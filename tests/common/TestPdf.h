// PDF documents the tests write themselves.
#pragma once

#include <QByteArray>
#include <QList>

namespace testing_support {

// A PDF of one page filled with one colour and then, to keep the engine's viewer busy reading
// and drawing it for a while, with small squares of that colour (200000 unless told); its
// cross-reference table at the right offsets. A locked one says it is encrypted with a password,
// which no password opens.
inline QByteArray onePagePdf(const char* rgb, bool locked = false, int squares = 200000) {
    QByteArray content = QByteArray(rgb) + " rg 0 0 400 300 re f";
    for (int i = 0; i < squares; ++i)
        content +=
            "\n" + QByteArray::number(i * 7 % 397) + ' ' + QByteArray::number(i * 13 % 297) + " 3 3 re f";
    QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 300] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    if (locked)
        objects.push_back("<< /Filter /Standard /V 1 /R 2 /P -44 /O <" + QByteArray(64, '0') + "> /U <" +
                          QByteArray(64, '1') + "> >>");
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    const QByteArray encrypt = locked ? " /Encrypt 5 0 R /ID [<00112233445566778899aabbccddeeff> "
                                        "<00112233445566778899aabbccddeeff>]"
                                      : "";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R" + encrypt +
           " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace testing_support
