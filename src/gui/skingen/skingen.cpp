// Writes the skin images into a Skin folder: bitmaps, JPEGs, the animated wait indicator,
// the signal bars and the language-dependent pictures. Run by the build:
//   fielddesk-skingen OUTPUT_DIR

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <cstdio>

#include "skingen/gif_encoder.h"

namespace {

// The palette: calm blues and greys with one orange accent.
const QColor kNavy(0x1f, 0x3a, 0x5f);
const QColor kBlue(0x2b, 0x57, 0x97);
const QColor kBlueLight(0x4a, 0x78, 0xb8);
const QColor kPane(0xe9, 0xee, 0xf4);
const QColor kPaneDark(0xd5, 0xdd, 0xe8);
const QColor kGrey(0x8e, 0x99, 0xa8);
const QColor kLine(0xd7, 0xd7, 0xd7);
const QColor kOrange(0xed, 0x70, 0x20);
const QColor kWhite(255, 255, 255);

QString g_out;
int g_failures = 0;

QFont SansFont(int px, bool bold = false) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

bool HasChineseFont() {
    return !QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty();
}

void Save(const QImage& img, const QString& name) {
    const QString path = g_out + '/' + name;
    const char* format = name.endsWith(QLatin1String(".jpg")) ? "JPG" : "BMP";
    QImage out = img.convertToFormat(QImage::Format_RGB32);
    if (!out.save(path, format, 92)) {
        std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(path));
        ++g_failures;
    }
}

QImage Canvas(int w, int h, const QColor& fill) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(fill);
    return img;
}

void Rounded(QPainter& p, const QRectF& r, qreal radius, const QColor& fill,
             const QColor& border = QColor()) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(border.isValid() ? QPen(border, 1) : Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(r, radius, radius);
}

// ---- small vector icons, drawn in a 24x24 box at (x, y) ----
enum class Icon {
    Search,
    Gear,
    Link,
    Power,
    Upload,
    Reset,
    Help,
    Monitor,
    Refresh,
    Plus,
    Minus,
    Cross,
    Trash,
    Export,
    Pencil,
    Globe,
    Wifi,
    Info,
    None  // a plain button: the text alone says what it does
};

void DrawIcon(QPainter& p, Icon icon, qreal x, qreal y, const QColor& c, qreal s = 24) {
    p.save();
    p.translate(x, y);
    p.scale(s / 24.0, s / 24.0);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(c, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (icon) {
        case Icon::Search:
            p.drawEllipse(QPointF(10, 10), 6, 6);
            p.drawLine(QPointF(14.5, 14.5), QPointF(20, 20));
            break;
        case Icon::Gear: {
            p.drawEllipse(QPointF(12, 12), 3.2, 3.2);
            for (int i = 0; i < 8; ++i) {
                const qreal a = i * M_PI / 4;
                p.drawLine(QPointF(12 + 6 * qCos(a), 12 + 6 * qSin(a)),
                           QPointF(12 + 9 * qCos(a), 12 + 9 * qSin(a)));
            }
            p.drawEllipse(QPointF(12, 12), 6.2, 6.2);
            break;
        }
        case Icon::Link:
            p.drawEllipse(QPointF(5, 16), 3, 3);
            p.drawEllipse(QPointF(19, 16), 3, 3);
            p.drawArc(QRectF(5, 5, 14, 14), 30 * 16, 120 * 16);
            p.drawArc(QRectF(8, 9, 8, 8), 20 * 16, 140 * 16);
            p.drawLine(QPointF(12, 14), QPointF(12, 21));
            break;
        case Icon::Power:
            p.drawArc(QRectF(4, 5, 16, 16), 120 * 16, 300 * 16);
            p.drawLine(QPointF(12, 3), QPointF(12, 12));
            break;
        case Icon::Upload:
            p.drawLine(QPointF(12, 4), QPointF(12, 16));
            p.drawLine(QPointF(7, 9), QPointF(12, 4));
            p.drawLine(QPointF(17, 9), QPointF(12, 4));
            p.drawLine(QPointF(4, 20), QPointF(20, 20));
            break;
        case Icon::Reset:
        case Icon::Refresh:
            p.drawArc(QRectF(4, 4, 16, 16), 60 * 16, 280 * 16);
            p.drawLine(QPointF(17, 3.5), QPointF(16.5, 7.5));
            p.drawLine(QPointF(16.5, 7.5), QPointF(12.5, 7));
            if (icon == Icon::Reset) p.drawPoint(QPointF(12, 12));
            break;
        case Icon::Help:
            p.drawEllipse(QPointF(12, 12), 9, 9);
            p.drawArc(QRectF(8.5, 6, 7, 7), -60 * 16, 240 * 16);
            p.drawLine(QPointF(13.5, 12.3), QPointF(12, 14));
            p.drawPoint(QPointF(12, 17.5));
            break;
        case Icon::Monitor:
            p.drawRoundedRect(QRectF(3, 4, 18, 12), 1.5, 1.5);
            p.drawLine(QPointF(12, 16), QPointF(12, 20));
            p.drawLine(QPointF(8, 20), QPointF(16, 20));
            break;
        case Icon::Plus:
            p.drawLine(QPointF(12, 5), QPointF(12, 19));
            p.drawLine(QPointF(5, 12), QPointF(19, 12));
            break;
        case Icon::Minus:
            p.drawLine(QPointF(6, 15), QPointF(18, 15));
            break;
        case Icon::Cross:
            p.drawLine(QPointF(7, 7), QPointF(17, 17));
            p.drawLine(QPointF(17, 7), QPointF(7, 17));
            break;
        case Icon::Trash:
            p.drawLine(QPointF(5, 7), QPointF(19, 7));
            p.drawLine(QPointF(10, 4), QPointF(14, 4));
            p.drawRoundedRect(QRectF(7, 7, 10, 13), 1.5, 1.5);
            break;
        case Icon::Export:
            p.drawRoundedRect(QRectF(4, 4, 12, 16), 1.5, 1.5);
            p.drawLine(QPointF(11, 12), QPointF(21, 12));
            p.drawLine(QPointF(18, 9), QPointF(21, 12));
            p.drawLine(QPointF(18, 15), QPointF(21, 12));
            break;
        case Icon::Pencil:
            p.drawLine(QPointF(5, 19), QPointF(17, 7));
            p.drawLine(QPointF(17, 7), QPointF(19, 9));
            p.drawLine(QPointF(19, 9), QPointF(7, 21));
            p.drawLine(QPointF(5, 19), QPointF(4, 21));
            break;
        case Icon::Globe:
            p.drawEllipse(QPointF(12, 12), 9, 9);
            p.drawEllipse(QRectF(8, 3, 8, 18));
            p.drawLine(QPointF(3, 12), QPointF(21, 12));
            break;
        case Icon::Wifi:
            p.drawArc(QRectF(2, 6, 20, 20), 45 * 16, 90 * 16);
            p.drawArc(QRectF(6, 10, 12, 12), 45 * 16, 90 * 16);
            p.drawPoint(QPointF(12, 19));
            break;
        case Icon::Info:
            p.drawEllipse(QPointF(12, 12), 9, 9);
            p.drawLine(QPointF(12, 11), QPointF(12, 17));
            p.drawPoint(QPointF(12, 7.5));
            break;
    }
    p.restore();
}

// ---- the window backgrounds ----
void MainBackground() {
    const int w = 1260, h = 780;
    QImage img = Canvas(w, h, kWhite);
    QPainter p(&img);
    QLinearGradient band(0, 0, 0, 86);
    band.setColorAt(0, kNavy);
    band.setColorAt(1, kBlue);
    p.fillRect(0, 0, w, 83, band);
    p.fillRect(0, 83, w, 3, kOrange);
    // Left column under the band, the same tone as the navigation strip.
    p.fillRect(0, 86, 190, h - 86, kPane);
    p.fillRect(189, 86, 1, h - 86, kPaneDark);
    // Product mark: a stylised antenna with radio waves.
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(kWhite, 3, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(QPointF(40, 62), QPointF(40, 36));
    p.drawEllipse(QPointF(40, 32), 3.5, 3.5);
    pen.setColor(kOrange);
    p.setPen(pen);
    for (int i = 1; i <= 2; ++i) {
        const qreal r = 8.0 * i + 2;
        p.drawArc(QRectF(40 - r, 32 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
        p.drawArc(QRectF(40 - r, 32 - r, 2 * r, 2 * r), 135 * 16, 90 * 16);
    }
    p.setPen(kWhite);
    p.setFont(SansFont(26, true));
    p.drawText(QRect(70, 18, 400, 34), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("FieldDesk"));
    // The line under the name is text of the main window, in the user's language.
    // A quiet, wordless picture above the navigation strip: the PC and a device linked.
    p.setPen(QPen(kPaneDark, 1));
    p.setBrush(QColor(0xf5, 0xf7, 0xfa));
    p.drawRoundedRect(QRectF(20, 100, 150, 46), 6, 6);
    DrawIcon(p, Icon::Monitor, 34, 109, kNavy, 28);
    DrawIcon(p, Icon::Wifi, 128, 109, kBlue, 28);
    p.setPen(QPen(kOrange, 2, Qt::DotLine, Qt::RoundCap));
    p.drawLine(QPointF(70, 123), QPointF(120, 123));
    p.end();
    Save(img, QStringLiteral("main_bk.jpg"));
}

void LeftBackground() {
    QImage img = Canvas(190, 622, kPane);
    QPainter p(&img);
    p.fillRect(189, 0, 1, 622, kPaneDark);
    p.end();
    Save(img, QStringLiteral("main_left_bk.jpg"));
}

// ---- navigation buttons ----
void NavButton(const QString& name, Icon icon) {
    const int w = 190, h = 46;
    QImage normal = Canvas(w, h, kPane);
    {
        QPainter p(&normal);
        p.fillRect(189, 0, 1, h, kPaneDark);
        p.fillRect(14, h - 1, w - 28, 1, kPaneDark);
        DrawIcon(p, icon, 12, 11, kBlue);
    }
    QImage down = Canvas(w, h, kPane);
    {
        QPainter p(&down);
        QLinearGradient g(0, 0, w, 0);
        g.setColorAt(0, kBlue);
        g.setColorAt(1, kBlueLight);
        p.fillRect(0, 0, w, h, g);
        p.fillRect(0, 0, 4, h, kOrange);
        DrawIcon(p, icon, 12, 11, kWhite);
    }
    Save(normal, QStringLiteral("bt_menu_%1_normal.bmp").arg(name));
    Save(down, QStringLiteral("bt_menu_%1_down.bmp").arg(name));
}

// ---- page buttons: a rounded button with an icon, the text drawn by the program ----
void PageButton(const QString& file, int w, int h, Icon icon, const QColor& fill) {
    QImage img = Canvas(w, h, kWhite);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, fill.lighter(112));
    g.setColorAt(1, fill);
    Rounded(p, QRectF(0.5, 0.5, w - 1, h - 1), 4, QBrush(g).color(), fill.darker(115));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(1, 1, w - 2, h - 2), 4, 4);
    if (icon != Icon::None) DrawIcon(p, icon, 6, (h - 18) / 2.0, kWhite, 18);
    p.end();
    Save(img, file);
}

void UpdateButtons() {
    for (int down = 0; down < 2; ++down) {
        QImage img = Canvas(28, 28, kWhite);
        QPainter p(&img);
        Rounded(p, QRectF(0.5, 0.5, 27, 27), 5, down ? kBlue : kPane, down ? kBlue : kPaneDark);
        DrawIcon(p, Icon::Refresh, 4, 4, down ? kWhite : kBlue, 20);
        p.end();
        Save(img, down ? QStringLiteral("btn_update_down.bmp")
                       : QStringLiteral("btn_update_normal.bmp"));
    }
}

// Caption buttons: three states side by side (normal, hover, pressed), on the title band.
void CaptionStrip(const QString& file, Icon icon, const QColor& hover) {
    const int w = 30, h = 24;
    QImage img(w * 3, h, QImage::Format_ARGB32);
    QPainter p(&img);
    for (int s = 0; s < 3; ++s) {
        QLinearGradient band(0, -8, 0, 78);
        band.setColorAt(0, kNavy);
        band.setColorAt(1, kBlue);
        p.fillRect(s * w, 0, w, h, band);
        if (s > 0)
            Rounded(p, QRectF(s * w + 1, 1, w - 2, h - 2), 4, s == 1 ? hover : hover.darker(120));
        DrawIcon(p, icon, s * w + 7, 4, kWhite, 16);
    }
    p.end();
    Save(img, file);
}

void SmallClose(const QString& file, const QColor& bk) {
    QImage img = Canvas(20, 20, bk);
    QPainter p(&img);
    Rounded(p, QRectF(1, 1, 18, 18), 9, kPaneDark);
    DrawIcon(p, Icon::Cross, 3, 3, kNavy, 14);
    p.end();
    Save(img, file);
}

// Signal strength: n of five bars lit (0 = no signal).
void SignalBars() {
    for (int n = 0; n <= 5; ++n) {
        QImage img = Canvas(30, 16, kWhite);
        QPainter p(&img);
        for (int i = 0; i < 5; ++i) {
            const int bh = 3 + i * 3;
            const QColor c = i < n ? (n <= 1 ? kOrange : QColor(0x2e, 0x9e, 0x4f)) : kPaneDark;
            p.fillRect(3 + i * 5, 15 - bh, 4, bh, c);
        }
        p.end();
        Save(img, QStringLiteral("singal_strength%1.bmp").arg(n));
    }
}

void Lines() {
    Save(Canvas(1000, 1, kLine), QStringLiteral("line.bmp"));
    Save(Canvas(1000, 1, QColor(0xc8, 0xcd, 0xd4)), QStringLiteral("gray_line.bmp"));
    Save(Canvas(1000, 2, kOrange), QStringLiteral("orange_line.bmp"));
}

void Markers() {
    for (int i = 0; i < 2; ++i) {
        QImage img = Canvas(10, 10, kPane);
        QPainter p(&img);
        Rounded(p, QRectF(1, 1, 8, 8), 4, i == 0 ? kOrange : kGrey);
        p.end();
        Save(img, i == 0 ? QStringLiteral("btn_pie.bmp") : QStringLiteral("btn_pie2.bmp"));
    }
    QImage url = Canvas(16, 16, kWhite);
    {
        QPainter p(&url);
        DrawIcon(p, Icon::Globe, 0, 0, kBlue, 16);
    }
    Save(url, QStringLiteral("bt_url.bmp"));
    QImage write = Canvas(16, 16, kWhite);
    {
        QPainter p(&write);
        DrawIcon(p, Icon::Pencil, 0, 0, kOrange, 16);
    }
    Save(write, QStringLiteral("write.bmp"));
}

// Help menu entries: two states (normal, highlighted) of 16x16 side by side.
void HelpEntries() {
    const struct {
        const char* file;
        Icon icon;
    } entries[] = {{"help_product_normal.bmp", Icon::Wifi},
                   {"help_support_normal.bmp", Icon::Gear},
                   {"help_contact_normal.bmp", Icon::Link},
                   {"help_help_normal.bmp", Icon::Help}};
    for (const auto& e : entries) {
        QImage img = Canvas(32, 16, kWhite);
        QPainter p(&img);
        DrawIcon(p, e.icon, 0, 0, kBlue, 16);
        p.fillRect(16, 0, 16, 16, kBlue);
        DrawIcon(p, e.icon, 16, 0, kWhite, 16);
        p.end();
        Save(img, QString::fromLatin1(e.file));
    }
}

void WirelessImages() {
    const struct {
        const char* file;
        Icon icon;
    } icons[] = {{"wireless_basic.bmp", Icon::Wifi}, {"wireless_config.bmp", Icon::Gear}};
    for (const auto& e : icons) {
        QImage img = Canvas(24, 24, kWhite);
        QPainter p(&img);
        DrawIcon(p, e.icon, 0, 0, kBlue);
        p.end();
        Save(img, QString::fromLatin1(e.file));
    }
    for (int on = 0; on < 2; ++on) {
        QImage img = Canvas(48, 22, kWhite);
        QPainter p(&img);
        Rounded(p, QRectF(1, 1, 46, 20), 10, on ? QColor(0x2e, 0x9e, 0x4f) : kPaneDark);
        Rounded(p, QRectF(on ? 27 : 3, 3, 18, 16), 8, kWhite);
        p.end();
        Save(img,
             on ? QStringLiteral("wireless_enable.bmp") : QStringLiteral("wireless_disable.bmp"));
    }
}

// The 50x16 button strips of the device lists: an active and a greyed image side by side.
void ListButtonStrip(const QString& file, const QString& text, Icon icon) {
    QImage img = Canvas(100, 16, kWhite);
    QPainter p(&img);
    for (int s = 0; s < 2; ++s) {
        const QColor fill = s == 0 ? kBlue : kPaneDark;
        Rounded(p, QRectF(s * 50 + 1.5, 0.5, 47, 15), 3, fill);
        DrawIcon(p, icon, s * 50 + 4, 2, kWhite, 12);
        p.setPen(kWhite);
        p.setFont(SansFont(10, true));
        p.drawText(QRect(s * 50 + 17, 0, 31, 16), Qt::AlignCenter, text);
    }
    p.end();
    Save(img, file);
}

void BridgeFinish() {
    const int w = 520, h = 300;
    QImage img = Canvas(w, h, kWhite);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    auto device = [&](qreal x, const QString& label) {
        Rounded(p, QRectF(x, 120, 90, 110), 10, kPane, kPaneDark);
        p.setPen(QPen(kNavy, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(x + 45, 120), QPointF(x + 45, 80));
        DrawIcon(p, Icon::Wifi, x + 27, 140, kBlue, 36);
        p.setPen(kNavy);
        p.setFont(SansFont(14, true));
        p.drawText(QRectF(x, 236, 90, 24), Qt::AlignCenter, label);
    };
    device(60, QStringLiteral("AP"));
    device(370, QStringLiteral("Station"));
    QPen wave(kOrange, 3, Qt::DashLine, Qt::RoundCap);
    p.setPen(wave);
    p.drawLine(QPointF(165, 90), QPointF(355, 90));
    Rounded(p, QRectF(226, 150, 68, 68), 34, QColor(0x2e, 0x9e, 0x4f));
    p.setPen(QPen(kWhite, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(243, 185), QPointF(256, 198), QPointF(279, 170)}));
    p.end();
    Save(img, QStringLiteral("bridge_finish.jpg"));
}

// The installation help picture; taller than the page so that it scrolls.
void HelpPicture(const QString& file, bool chinese) {
    const int w = 1000, h = 1500;
    QImage img = Canvas(w, h, kWhite);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const bool zh = chinese && HasChineseFont();
    auto text = [&](const char* en, const char* cn) {
        return zh ? QString::fromUtf8(cn) : QString::fromUtf8(en);
    };
    p.fillRect(0, 0, w, 70, kNavy);
    p.fillRect(0, 70, w, 3, kOrange);
    p.setPen(kWhite);
    p.setFont(SansFont(26, true));
    p.drawText(QRect(30, 0, w - 60, 70), Qt::AlignVCenter,
               text("Installation guide", "\xe5\xae\x89\xe8\xa3\x85\xe6\x8c\x87\xe5\x8d\x97"));
    struct Step {
        const char* en;
        const char* cn;
        const char* detailEn;
        const char* detailCn;
        Icon icon;
    };
    const Step steps[] = {
        {"1  Connect the PC", "1  \xe8\xbf\x9e\xe6\x8e\xa5\xe7\x94\xb5\xe8\x84\x91",
         "Wire the PC to the same LAN segment as the devices (PoE injector LAN port).",
         "\xe5\xb0\x86\xe7\x94\xb5\xe8\x84\x91\xe4\xb8\x8e\xe8\xae\xbe\xe5\xa4\x87\xe6\x8e\xa5"
         "\xe5\x85\xa5\xe5\x90\x8c\xe4\xb8\x80\xe5\xb1\x80\xe5\x9f\x9f\xe7\xbd\x91\xe3\x80\x82",
         Icon::Monitor},
        {"2  Mount and power the device",
         "2  \xe5\xae\x89\xe8\xa3\x85\xe5\xb9\xb6\xe4\xb8\x8a\xe7\x94\xb5",
         "Fix the CPE on the pole, aim it, and power it through the PoE injector.",
         "\xe5\xb0\x86 CPE \xe5\x9b\xba\xe5\xae\x9a\xe5\x9c\xa8\xe6\x8a\xb1\xe6\x9d\x86\xe4\xb8\x8a"
         "\xef\xbc\x8c\xe9\x80\x9a\xe8\xbf\x87 PoE \xe4\xbe\x9b\xe7\x94\xb5\xe3\x80\x82",
         Icon::Power},
        {"3  Search", "3  \xe6\x90\x9c\xe7\xb4\xa2",
         "Open Device status and press Search: every device on the LAN is listed.",
         "\xe5\x9c\xa8\xe8\xae\xbe\xe5\xa4\x87\xe7\x8a\xb6\xe6\x80\x81\xe9\xa1\xb5\xe7\x82\xb9\xe5"
         "\x87\xbb\xe6\x90\x9c\xe7\xb4\xa2\xe3\x80\x82",
         Icon::Search},
        {"4  Configure", "4  \xe9\x85\x8d\xe7\xbd\xae",
         "Set the IP address, wireless settings and bridge from the management pages.",
         "\xe5\x9c\xa8\xe7\xae\xa1\xe7\x90\x86\xe9\xa1\xb5\xe8\xae\xbe\xe7\xbd\xae IP "
         "\xe5\x9c\xb0\xe5\x9d\x80\xe5\x92\x8c\xe6\x97\xa0\xe7\xba\xbf\xe3\x80\x82",
         Icon::Gear},
        {"5  Bridge", "5  \xe6\xa1\xa5\xe6\x8e\xa5",
         "Link a station to its access point with the bridge wizard.",
         "\xe7\x94\xa8\xe6\xa1\xa5\xe6\x8e\xa5\xe5\x90\x91\xe5\xaf\xbc\xe8\xbf\x9e\xe6\x8e\xa5"
         "\xe5\xae\xa2\xe6\x88\xb7\xe7\xab\xaf\xe4\xb8\x8e AP\xe3\x80\x82",
         Icon::Link},
        {"6  Maintain", "6  \xe7\xbb\xb4\xe6\x8a\xa4",
         "Reboot, restore factory settings or upgrade the firmware of selected devices.",
         "\xe9\x87\x8d\xe5\x90\xaf\xe3\x80\x81\xe6\x81\xa2\xe5\xa4\x8d\xe5\x87\xba\xe5\x8e\x82"
         "\xe6\x88\x96\xe5\x8d\x87\xe7\xba\xa7\xe5\x9b\xba\xe4\xbb\xb6\xe3\x80\x82",
         Icon::Upload},
    };
    int y = 100;
    for (const Step& s : steps) {
        Rounded(p, QRectF(30, y, w - 60, 200), 10, QColor(0xf5, 0xf7, 0xfa), kPaneDark);
        Rounded(p, QRectF(50, y + 40, 120, 120), 60, kPane);
        DrawIcon(p, s.icon, 74, y + 64, kBlue, 72);
        p.setPen(kNavy);
        p.setFont(SansFont(22, true));
        p.drawText(QRect(200, y + 40, w - 260, 40), Qt::AlignVCenter, text(s.en, s.cn));
        p.setPen(QColor(0x44, 0x4c, 0x58));
        p.setFont(SansFont(16));
        p.drawText(QRect(200, y + 90, w - 260, 70), Qt::AlignTop | Qt::TextWordWrap,
                   text(s.detailEn, s.detailCn));
        p.fillRect(200, y + 84, 60, 3, kOrange);
        y += 225;
    }
    p.end();
    Save(img, file);
}

// The wait indicator: twelve dots in a ring, one bright dot going round.
void WaitGif() {
    const int w = 32, h = 32, frames = 12;
    std::vector<fd::GifColor> palette;
    // Index 0 white background; a ramp from the pane grey to the accent orange.
    palette.push_back({255, 255, 255});
    const int ramp = 15;
    for (int i = 0; i < ramp; ++i) {
        const qreal t = i / qreal(ramp - 1);
        const QColor a = kPaneDark, b = kOrange;
        palette.push_back({static_cast<uint8_t>(a.red() + (b.red() - a.red()) * t),
                           static_cast<uint8_t>(a.green() + (b.green() - a.green()) * t),
                           static_cast<uint8_t>(a.blue() + (b.blue() - a.blue()) * t)});
    }
    std::vector<fd::GifFrame> out;
    for (int f = 0; f < frames; ++f) {
        fd::GifFrame frame;
        frame.indices.assign(static_cast<size_t>(w * h), 0);
        frame.delayCs = 8;
        frame.disposal = 1;
        for (int d = 0; d < frames; ++d) {
            const qreal a = d * 2 * M_PI / frames - M_PI / 2;
            const qreal cx = 16 + 11 * qCos(a), cy = 16 + 11 * qSin(a);
            const int age = (f - d + frames) % frames;  // 0 = the bright dot
            const int shade = std::max(1, ramp - age * 2);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const qreal dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                    if (dx * dx + dy * dy <= 2.8 * 2.8) {
                        frame.indices[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(shade);
                    }
                }
            }
        }
        out.push_back(std::move(frame));
    }
    const std::vector<uint8_t> bytes = fd::EncodeGif(w, h, palette, out);
    if (bytes.empty() || !fd::WriteFileBytes((g_out + "/wait_search.gif").toStdString(), bytes)) {
        std::fprintf(stderr, "skingen: cannot write wait_search.gif\n");
        ++g_failures;
    }
}

void AppIcon() {
    QImage img(64, 64, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    Rounded(p, QRectF(2, 2, 60, 60), 12, kBlue);
    p.setPen(QPen(kWhite, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 52), QPointF(32, 28));
    p.setPen(QPen(kOrange, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(18, 12, 28, 28), 30 * 16, 120 * 16);
    p.drawArc(QRectF(24, 18, 16, 16), 30 * 16, 120 * 16);
    p.end();
    if (!img.save(g_out + "/app_icon.png", "PNG")) ++g_failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fielddesk-skingen OUTPUT_DIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    g_out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_out)) {
        std::fprintf(stderr, "skingen: cannot create %s\n", argv[1]);
        return 1;
    }
    MainBackground();
    LeftBackground();
    Markers();
    WaitGif();
    NavButton(QStringLiteral("search"), Icon::Search);
    NavButton(QStringLiteral("wireless"), Icon::Gear);
    NavButton(QStringLiteral("device"), Icon::Link);
    NavButton(QStringLiteral("user"), Icon::Power);
    NavButton(QStringLiteral("adstragy"), Icon::Upload);
    NavButton(QStringLiteral("admanagment"), Icon::Reset);
    NavButton(QStringLiteral("active"), Icon::Help);
    NavButton(QStringLiteral("system"), Icon::Monitor);
    PageButton(QStringLiteral("btn_search.bmp"), 100, 30, Icon::Search, kBlue);
    PageButton(QStringLiteral("btn_delete.bmp"), 100, 30, Icon::Trash, QColor(0xc0, 0x39, 0x2b));
    PageButton(QStringLiteral("btn_export.bmp"), 100, 30, Icon::Export, kBlue);
    PageButton(QStringLiteral("btn_add.bmp"), 100, 30, Icon::Plus, kBlue);
    PageButton(QStringLiteral("btn_reboot.bmp"), 100, 30, Icon::Power, kBlue);
    PageButton(QStringLiteral("btn_restore.bmp"), 100, 30, Icon::Reset, kOrange);
    PageButton(QStringLiteral("btn_upgrade.bmp"), 100, 30, Icon::Upload, kBlue);
    PageButton(QStringLiteral("btn_config.bmp"), 100, 30, Icon::Gear, kBlue);
    PageButton(QStringLiteral("config_btn.bmp"), 90, 28, Icon::None, kBlue);
    UpdateButtons();
    CaptionStrip(QStringLiteral("close_normal.bmp"), Icon::Cross, QColor(0xc0, 0x39, 0x2b));
    CaptionStrip(QStringLiteral("min_normal.bmp"), Icon::Minus, kBlueLight);
    CaptionStrip(QStringLiteral("help_normal.bmp"), Icon::Info, kBlueLight);
    SmallClose(QStringLiteral("close_config.bmp"), kWhite);
    SmallClose(QStringLiteral("close_wait.bmp"), QColor(242, 242, 242));
    BridgeFinish();
    SignalBars();
    Lines();
    HelpEntries();
    WirelessImages();
    const bool cjk = HasChineseFont();
    // Without a Chinese font the Chinese strips would show empty boxes; they carry the
    // same icon with an international label instead.
    ListButtonStrip(QStringLiteral("web_chinese.bmp"),
                    cjk ? QString::fromUtf8("\xe7\xbd\x91\xe9\xa1\xb5") : QStringLiteral("WEB"),
                    Icon::Globe);
    ListButtonStrip(QStringLiteral("web_other.bmp"), QStringLiteral("Web"), Icon::Globe);
    ListButtonStrip(QStringLiteral("bridge_chinese.bmp"),
                    cjk ? QString::fromUtf8("\xe6\xa1\xa5\xe6\x8e\xa5") : QStringLiteral("LINK"),
                    Icon::Link);
    ListButtonStrip(QStringLiteral("bridge_other.bmp"), QStringLiteral("Link"), Icon::Link);
    HelpPicture(QStringLiteral("help_chinese.jpg"), true);
    HelpPicture(QStringLiteral("help_other.jpg"), false);
    AppIcon();
    return g_failures == 0 ? 0 : 1;
}
