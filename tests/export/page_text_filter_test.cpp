// The paint device that keeps only the current page's text: text painted beside the page (in the
// margins, where the paper still has room) is dropped, text on it reaches the PDF with the painter's
// font and transform as set on the filter.
#include "export/page_text_filter.h"

#include "support/temp_folder.h"

#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::string pdfText(const std::filesystem::path& pdf)
{
    std::string output;
    std::FILE* pipe = ::popen(("pdftotext -enc UTF-8 '" + pdf.string() + "' - 2>&1").c_str(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, count);
    ::pclose(pipe);
    return output;
}

TEST(PageTextFilterTest, TextBesideThePageIsDroppedAndTextOnItKept)
{
    testsupport::TempFolder folder("horavine-filter");
    const auto path = folder.path() / "filtered.pdf";
    {
        QPdfWriter writer(QString::fromStdString(path.string()));
        writer.setPageSize(QPageSize(QPageSize::A4));
        // Wide margins: text painted beside the page still lands on the paper, where it can be read.
        writer.setPageMargins(QMarginsF(72, 144, 72, 144), QPageLayout::Point);
        QPainter target(&writer);
        const QRectF page(0, 0, writer.width(), writer.height());
        exports::PageTextFilter filter(target, page);
        QPainter painter(&filter);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(12);
        painter.setFont(font);
        painter.drawText(QPointF(0, page.height() / 2), QStringLiteral("Kept"));
        painter.drawText(QPointF(0, -page.height() * 0.05), QStringLiteral("Above"));
        painter.drawText(QPointF(0, page.height() * 1.1), QStringLiteral("Below"));
        // The next page's coordinates, moved onto this page by the transform.
        painter.translate(0, -page.height());
        painter.drawText(QPointF(0, page.height() * 1.25), QStringLiteral("Moved"));
        painter.drawText(QPointF(0, page.height() * 2.08), QStringLiteral("Beyond"));
        painter.drawRect(QRectF(0, page.height(), page.width() / 2, page.height() / 10));
    }
    const std::string text = pdfText(path);
    EXPECT_NE(text.find("Kept"), std::string::npos) << text;
    EXPECT_NE(text.find("Moved"), std::string::npos) << text;
    for (const char* dropped : {"Above", "Below", "Beyond"})
        EXPECT_EQ(text.find(dropped), std::string::npos) << dropped << "\n" << text;
}

} // namespace
