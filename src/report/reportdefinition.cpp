#include <report/reportdefinition.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

namespace reportengine {

namespace {

int lineAt(const QByteArray &bytes, qsizetype offset)
{
    offset = qBound<qsizetype>(0, offset, bytes.size());
    return int(QByteArrayView(bytes.constData(), offset).count('\n')) + 1;
}

// QJsonDocument keeps no positions, so messages about the content would have no line.
// This walks the text (already known to be valid JSON) and notes where each value starts,
// keyed by a JSON-pointer-like path such as "/columns/2/width".
class PositionScanner
{
public:
    PositionScanner(const QByteArray &text, QHash<QString, qsizetype> *positions)
        : m_text(text)
        , m_positions(positions)
    {}

    void scan() { value(QString()); }

private:
    void skipSpace()
    {
        while (m_pos < m_text.size() && QChar::isSpace(uchar(m_text.at(m_pos))))
            ++m_pos;
    }

    QString string()
    {
        QByteArray out;
        ++m_pos; // opening quote
        while (m_pos < m_text.size() && m_text.at(m_pos) != '"') {
            if (m_text.at(m_pos) == '\\' && m_pos + 1 < m_text.size())
                ++m_pos;
            out.append(m_text.at(m_pos++));
        }
        ++m_pos; // closing quote
        return QString::fromUtf8(out);
    }

    void value(const QString &path)
    {
        skipSpace();
        if (m_pos >= m_text.size())
            return;
        m_positions->insert(path, m_pos);
        const char c = m_text.at(m_pos);
        if (c == '{') {
            ++m_pos;
            for (;;) {
                skipSpace();
                if (m_pos >= m_text.size() || m_text.at(m_pos) == '}')
                    break;
                const QString key = string();
                skipSpace();
                ++m_pos; // colon
                value(path + QLatin1Char('/') + key);
                skipSpace();
                if (m_pos < m_text.size() && m_text.at(m_pos) == ',')
                    ++m_pos;
            }
            ++m_pos;
        } else if (c == '[') {
            ++m_pos;
            for (int index = 0;; ++index) {
                skipSpace();
                if (m_pos >= m_text.size() || m_text.at(m_pos) == ']')
                    break;
                value(path + QLatin1Char('/') + QString::number(index));
                skipSpace();
                if (m_pos < m_text.size() && m_text.at(m_pos) == ',')
                    ++m_pos;
            }
            ++m_pos;
        } else if (c == '"') {
            string();
        } else {
            while (m_pos < m_text.size()
                   && !QByteArrayView(",]} \t\r\n").contains(m_text.at(m_pos)))
                ++m_pos;
        }
    }

    const QByteArray &m_text;
    QHash<QString, qsizetype> *m_positions;
    qsizetype m_pos = 0;
};

struct PageSizeName
{
    const char *name;
    double width;
    double height;
};

constexpr PageSizeName pageSizes[] = {
    {"Letter", 215.9, 279.4},
    {"Legal", 215.9, 355.6},
    {"A4", 210, 297},
    {"A5", 148, 210},
};

// Checks the parsed document against the format; the first problem ends the check.
class Reader
{
public:
    Reader(const QByteArray &bytes, const QString &path)
        : m_bytes(bytes)
        , m_path(path)
    {
        PositionScanner(bytes, &m_positions).scan();
    }

    int line(const QString &pointer) const
    {
        QString p = pointer;
        // A missing key is reported at the object that should hold it.
        while (!m_positions.contains(p) && !p.isEmpty())
            p.truncate(p.lastIndexOf(QLatin1Char('/')));
        return lineAt(m_bytes, m_positions.value(p, 0));
    }

    bool fail(const QString &pointer, const QString &what)
    {
        m_error = definitionError(m_path, line(pointer), what);
        return false;
    }

    bool onlyKeys(const QJsonObject &object, const QString &pointer, const QStringList &allowed)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!allowed.contains(it.key()))
                return fail(pointer + QLatin1Char('/') + it.key(),
                            QStringLiteral("unknown key \"%1\"%2; expected one of: %3")
                                .arg(it.key(), where(pointer), allowed.join(QStringLiteral(", "))));
        }
        return true;
    }

    static QString where(const QString &pointer)
    {
        return pointer.isEmpty() ? QString() : QStringLiteral(" in \"%1\"").arg(pointer.mid(1));
    }

    static QString name(const QString &pointer) { return pointer.mid(1); }

    bool string(const QJsonObject &object,
                const QString &pointer,
                const QString &key,
                QString *out,
                bool required)
    {
        const QString p = pointer + QLatin1Char('/') + key;
        const QJsonValue v = object.value(key);
        if (v.isUndefined()) {
            if (required)
                return fail(pointer, QStringLiteral("the key \"%1\" is missing").arg(name(p)));
            return true;
        }
        if (!v.isString())
            return fail(p, QStringLiteral("\"%1\" must be a text in double quotes").arg(name(p)));
        *out = v.toString();
        if (required && out->trimmed().isEmpty())
            return fail(p, QStringLiteral("\"%1\" must not be empty").arg(name(p)));
        return true;
    }

    bool number(const QJsonObject &object,
                const QString &pointer,
                const QString &key,
                double *out,
                bool required,
                double minimum,
                bool allowMinimum)
    {
        const QString p = pointer + QLatin1Char('/') + key;
        const QJsonValue v = object.value(key);
        if (v.isUndefined()) {
            if (required)
                return fail(pointer, QStringLiteral("the key \"%1\" is missing").arg(name(p)));
            return true;
        }
        if (!v.isDouble())
            return fail(p, QStringLiteral("\"%1\" must be a number").arg(name(p)));
        const double d = v.toDouble();
        if (d < minimum || (!allowMinimum && d == minimum))
            return fail(p, QStringLiteral("\"%1\" must be %2 %3, not %4")
                               .arg(name(p), allowMinimum ? QStringLiteral("at least")
                                                          : QStringLiteral("greater than"))
                               .arg(minimum)
                               .arg(d));
        *out = d;
        return true;
    }

    bool object(const QJsonObject &parent,
                const QString &pointer,
                const QString &key,
                QJsonObject *out,
                bool required)
    {
        const QString p = pointer + QLatin1Char('/') + key;
        const QJsonValue v = parent.value(key);
        if (v.isUndefined()) {
            if (required)
                return fail(pointer, QStringLiteral("the key \"%1\" is missing").arg(name(p)));
            return true;
        }
        if (!v.isObject())
            return fail(p, QStringLiteral("\"%1\" must be an object in braces").arg(name(p)));
        *out = v.toObject();
        return true;
    }

    // The definition the document describes, or the first problem found in it.
    Result<ReportDefinition> definition(const QJsonObject &root)
    {
        ReportDefinition d;
        d.filePath = m_path;
        if (!read(root, &d))
            return Failure::input(m_error);
        return d;
    }

private:
    bool read(const QJsonObject &root, ReportDefinition *d)
    {
        if (!onlyKeys(root, QString(),
                      {QStringLiteral("title"), QStringLiteral("dataSource"),
                       QStringLiteral("page"), QStringLiteral("font"), QStringLiteral("pageHeader"),
                       QStringLiteral("pageFooter"), QStringLiteral("group"),
                       QStringLiteral("columns")}))
            return false;
        if (!string(root, QString(), QStringLiteral("title"), &d->title, true))
            return false;
        if (!readDataSource(root, d) || !readPage(root, d) || !readFont(root, d))
            return false;
        d->pageHeader = {QStringLiteral("{title}"), QString(), QStringLiteral("{date}")};
        d->pageFooter = {QString(), QStringLiteral("Page {page} of {pages}"), QString()};
        if (!readPageBand(root, QStringLiteral("pageHeader"), &d->pageHeader)
            || !readPageBand(root, QStringLiteral("pageFooter"), &d->pageFooter))
            return false;
        return readGroup(root, d) && readColumns(root, d);
    }

    bool readDataSource(const QJsonObject &root, ReportDefinition *d)
    {
        const QString p = QStringLiteral("/dataSource");
        QJsonObject source;
        if (!object(root, QString(), QStringLiteral("dataSource"), &source, true))
            return false;
        if (!onlyKeys(source, p, {QStringLiteral("database"), QStringLiteral("query")}))
            return false;
        QString database;
        if (!string(source, p, QStringLiteral("database"), &database, true)
            || !string(source, p, QStringLiteral("query"), &d->query, true))
            return false;
        if (QFileInfo(database).isAbsolute())
            return fail(p + QStringLiteral("/database"),
                        QStringLiteral("\"dataSource/database\" must be a path relative to the "
                                       "definition's folder, not \"%1\"")
                            .arg(database));
        d->databasePath = QDir::cleanPath(QFileInfo(m_path).absoluteDir().filePath(database));
        if (!d->query.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive))
            return fail(p + QStringLiteral("/query"),
                        QStringLiteral("\"dataSource/query\" must be a SELECT statement"));
        d->queryLine = line(p + QStringLiteral("/query"));
        return true;
    }

    bool readPage(const QJsonObject &root, ReportDefinition *d)
    {
        const QString p = QStringLiteral("/page");
        QJsonObject page;
        if (!object(root, QString(), QStringLiteral("page"), &page, false))
            return false;
        if (!onlyKeys(
                page, p,
                {QStringLiteral("size"), QStringLiteral("orientation"), QStringLiteral("margins")}))
            return false;
        const QJsonValue size = page.value(QStringLiteral("size"));
        if (size.isString()) {
            bool found = false;
            for (const PageSizeName &s : pageSizes) {
                if (size.toString().compare(QLatin1String(s.name), Qt::CaseInsensitive) == 0) {
                    d->pageSizeMm = QSizeF(s.width, s.height);
                    found = true;
                }
            }
            if (!found)
                return fail(p + QStringLiteral("/size"),
                            QStringLiteral("unknown page size \"%1\"; expected Letter, Legal, A4, "
                                           "A5 or {\"width\": mm, \"height\": mm}")
                                .arg(size.toString()));
        } else if (size.isObject()) {
            double w = 0;
            double h = 0;
            const QString sp = p + QStringLiteral("/size");
            if (!onlyKeys(size.toObject(), sp, {QStringLiteral("width"), QStringLiteral("height")})
                || !number(size.toObject(), sp, QStringLiteral("width"), &w, true, 50, true)
                || !number(size.toObject(), sp, QStringLiteral("height"), &h, true, 50, true))
                return false;
            d->pageSizeMm = QSizeF(w, h);
        } else if (!size.isUndefined()) {
            return fail(p + QStringLiteral("/size"),
                        QStringLiteral("\"page/size\" must be a name or {\"width\", \"height\"}"));
        }
        QString orientation = QStringLiteral("portrait");
        if (!string(page, p, QStringLiteral("orientation"), &orientation, false))
            return false;
        if (orientation == QLatin1String("landscape"))
            d->pageSizeMm.transpose();
        else if (orientation != QLatin1String("portrait"))
            return fail(p + QStringLiteral("/orientation"),
                        QStringLiteral("\"page/orientation\" must be \"portrait\" or "
                                       "\"landscape\", not \"%1\"")
                            .arg(orientation));
        const QJsonValue margins = page.value(QStringLiteral("margins"));
        const QString mp = p + QStringLiteral("/margins");
        if (margins.isDouble()) {
            double m = 0;
            if (!number(page, p, QStringLiteral("margins"), &m, false, 0, true))
                return false;
            d->marginLeftMm = d->marginTopMm = d->marginRightMm = d->marginBottomMm = m;
        } else if (margins.isObject()) {
            const QJsonObject m = margins.toObject();
            if (!onlyKeys(m, mp,
                          {QStringLiteral("left"), QStringLiteral("top"), QStringLiteral("right"),
                           QStringLiteral("bottom")})
                || !number(m, mp, QStringLiteral("left"), &d->marginLeftMm, false, 0, true)
                || !number(m, mp, QStringLiteral("top"), &d->marginTopMm, false, 0, true)
                || !number(m, mp, QStringLiteral("right"), &d->marginRightMm, false, 0, true)
                || !number(m, mp, QStringLiteral("bottom"), &d->marginBottomMm, false, 0, true))
                return false;
        } else if (!margins.isUndefined()) {
            return fail(mp, QStringLiteral("\"page/margins\" must be a number or an object"));
        }
        if (d->marginLeftMm + d->marginRightMm >= d->pageSizeMm.width() - 20
            || d->marginTopMm + d->marginBottomMm >= d->pageSizeMm.height() - 40)
            return fail(mp, QStringLiteral("the margins leave too little room on the page"));
        return true;
    }

    bool readFont(const QJsonObject &root, ReportDefinition *d)
    {
        const QString p = QStringLiteral("/font");
        QJsonObject font;
        if (!object(root, QString(), QStringLiteral("font"), &font, false))
            return false;
        return onlyKeys(
                   font, p,
                   {QStringLiteral("family"), QStringLiteral("size"), QStringLiteral("titleSize")})
               && string(font, p, QStringLiteral("family"), &d->fontFamily, false)
               && number(font, p, QStringLiteral("size"), &d->fontSize, false, 4, true)
               && number(font, p, QStringLiteral("titleSize"), &d->titleFontSize, false, 4, true)
               && (d->fontSize <= 36
                   || fail(p + QStringLiteral("/size"), QStringLiteral("\"font/size\" above 36")))
               && (d->titleFontSize <= 72
                   || fail(p + QStringLiteral("/titleSize"),
                           QStringLiteral("\"font/titleSize\" above 72")));
    }

    bool readPageBand(const QJsonObject &root, const QString &key, ReportPageBand *band)
    {
        const QString p = QLatin1Char('/') + key;
        QJsonObject o;
        if (!root.contains(key))
            return true;
        if (!object(root, QString(), key, &o, false))
            return false;
        *band = {};
        return onlyKeys(o, p,
                        {QStringLiteral("left"), QStringLiteral("center"), QStringLiteral("right")})
               && string(o, p, QStringLiteral("left"), &band->left, false)
               && string(o, p, QStringLiteral("center"), &band->center, false)
               && string(o, p, QStringLiteral("right"), &band->right, false);
    }

    bool readGroup(const QJsonObject &root, ReportDefinition *d)
    {
        const QString p = QStringLiteral("/group");
        QJsonObject group;
        if (!root.contains(QStringLiteral("group")))
            return true;
        if (!object(root, QString(), QStringLiteral("group"), &group, false))
            return false;
        if (!onlyKeys(group, p, {QStringLiteral("field"), QStringLiteral("by")}))
            return false;
        QString by = QStringLiteral("initial");
        if (!string(group, p, QStringLiteral("field"), &d->group.field, true)
            || !string(group, p, QStringLiteral("by"), &by, false))
            return false;
        if (by == QLatin1String("initial"))
            d->group.kind = ReportGroup::Kind::Initial;
        else if (by == QLatin1String("value"))
            d->group.kind = ReportGroup::Kind::Value;
        else
            return fail(p + QStringLiteral("/by"),
                        QStringLiteral("\"group/by\" must be \"initial\" or \"value\", not \"%1\"")
                            .arg(by));
        d->group.line = line(p + QStringLiteral("/field"));
        d->hasGroup = true;
        return true;
    }

    bool readPart(const QJsonValue &v, const QString &p, const QString &separator, ReportPart *part)
    {
        part->separator = separator;
        part->line = line(p);
        if (v.isString()) {
            part->field = v.toString();
        } else if (v.isObject()) {
            const QJsonObject o = v.toObject();
            if (!onlyKeys(o, p,
                          {QStringLiteral("field"), QStringLiteral("fields"),
                           QStringLiteral("separator"), QStringLiteral("prefix"),
                           QStringLiteral("suffix")})
                || !string(o, p, QStringLiteral("separator"), &part->separator, false)
                || !string(o, p, QStringLiteral("prefix"), &part->prefix, false)
                || !string(o, p, QStringLiteral("suffix"), &part->suffix, false))
                return false;
            if (o.contains(QStringLiteral("field")) == o.contains(QStringLiteral("fields")))
                return fail(p, QStringLiteral("each entry needs exactly one of \"field\" and "
                                              "\"fields\""));
            if (o.contains(QStringLiteral("field"))) {
                if (!string(o, p, QStringLiteral("field"), &part->field, true))
                    return false;
            } else if (!readParts(o.value(QStringLiteral("fields")), p + QStringLiteral("/fields"),
                                  QStringLiteral(" "), &part->parts)) {
                return false;
            }
            return true;
        } else {
            return fail(
                p, QStringLiteral("each entry of \"fields\" must be a field name or an object"));
        }
        if (part->field.isEmpty())
            return fail(p, QStringLiteral("a field name must not be empty"));
        return true;
    }

    bool readParts(const QJsonValue &fields,
                   const QString &p,
                   const QString &separator,
                   QList<ReportPart> *parts)
    {
        if (!fields.isArray() || fields.toArray().isEmpty())
            return fail(p,
                        QStringLiteral("\"%1\" must be a list of at least one field").arg(name(p)));
        const QJsonArray list = fields.toArray();
        for (int f = 0; f < list.size(); ++f) {
            ReportPart part;
            if (!readPart(list.at(f), p + QLatin1Char('/') + QString::number(f), separator, &part))
                return false;
            parts->append(part);
        }
        return true;
    }

    bool readColumns(const QJsonObject &root, ReportDefinition *d)
    {
        const QString p = QStringLiteral("/columns");
        const QJsonValue columns = root.value(QStringLiteral("columns"));
        if (columns.isUndefined())
            return fail(QString(), QStringLiteral("the key \"columns\" is missing"));
        if (!columns.isArray() || columns.toArray().isEmpty())
            return fail(p, QStringLiteral("\"columns\" must be a list of at least one column"));
        double total = 0;
        const QJsonArray list = columns.toArray();
        for (int i = 0; i < list.size(); ++i) {
            const QString cp = p + QLatin1Char('/') + QString::number(i);
            if (!list.at(i).isObject())
                return fail(cp, QStringLiteral("column %1 must be an object in braces").arg(i + 1));
            const QJsonObject o = list.at(i).toObject();
            ReportColumn column;
            column.line = line(cp);
            if (!onlyKeys(o, cp,
                          {QStringLiteral("caption"), QStringLiteral("width"),
                           QStringLiteral("field"), QStringLiteral("fields"),
                           QStringLiteral("separator"), QStringLiteral("wrap"),
                           QStringLiteral("align")})
                || !string(o, cp, QStringLiteral("caption"), &column.caption, false)
                || !number(o, cp, QStringLiteral("width"), &column.widthMm, true, 0, false))
                return false;
            QString separator = QStringLiteral(" ");
            if (!string(o, cp, QStringLiteral("separator"), &separator, false))
                return false;
            const bool hasField = o.contains(QStringLiteral("field"));
            const bool hasFields = o.contains(QStringLiteral("fields"));
            if (hasField == hasFields)
                return fail(
                    cp, QStringLiteral("column %1 needs exactly one of \"field\" and \"fields\"")
                            .arg(i + 1));
            if (hasField) {
                ReportPart part;
                if (!readPart(o.value(QStringLiteral("field")), cp + QStringLiteral("/field"),
                              separator, &part))
                    return false;
                column.parts.append(part);
            } else {
                if (!readParts(o.value(QStringLiteral("fields")), cp + QStringLiteral("/fields"),
                               separator, &column.parts))
                    return false;
            }
            const QJsonValue wrap = o.value(QStringLiteral("wrap"));
            if (!wrap.isUndefined() && !wrap.isBool())
                return fail(cp + QStringLiteral("/wrap"),
                            QStringLiteral("\"wrap\" must be true or false"));
            column.wrap = wrap.toBool(false);
            QString align = QStringLiteral("left");
            if (!string(o, cp, QStringLiteral("align"), &align, false))
                return false;
            if (align == QLatin1String("left"))
                column.alignment = Qt::AlignLeft;
            else if (align == QLatin1String("right"))
                column.alignment = Qt::AlignRight;
            else if (align == QLatin1String("center"))
                column.alignment = Qt::AlignHCenter;
            else
                return fail(cp + QStringLiteral("/align"),
                            QStringLiteral("\"align\" must be \"left\", \"center\" or \"right\", "
                                           "not \"%1\"")
                                .arg(align));
            total += column.widthMm;
            d->columns.append(column);
        }
        const double room = d->pageSizeMm.width() - d->marginLeftMm - d->marginRightMm;
        if (total > room + 0.05)
            return fail(p, QStringLiteral("the columns are %1 mm wide together, but the page has "
                                          "only %2 mm between the margins")
                               .arg(total)
                               .arg(room));
        return true;
    }

    const QByteArray &m_bytes;
    QString m_path;
    QString m_error;
    QHash<QString, qsizetype> m_positions;
};

} // namespace

QString definitionError(const QString &path, int line, const QString &what)
{
    return QStringLiteral("Report definition \"%1\", line %2: %3.").arg(path).arg(line).arg(what);
}

Result<ReportDefinition> parseReportDefinition(const QByteArray &json, const QString &path)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Failure{
            definitionError(path, lineAt(json, parseError.offset),
                            QStringLiteral("not valid JSON (%1)").arg(parseError.errorString()))};
    if (!document.isObject())
        return Failure{definitionError(
            path, 1, QStringLiteral("the definition must be one object in braces"))};
    return Reader(json, path).definition(document.object());
}

Result<ReportDefinition> loadReportDefinition(const QString &path)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (file.error() != QFileDevice::NoError)
        return Failure{QStringLiteral("The report definition \"%1\" cannot be read: %2.")
                           .arg(path, file.errorString())};
    return parseReportDefinition(bytes, path);
}

} // namespace reportengine
