#include "screencursor.h"

#include <erpfw/core/error.h>

#include <QCursor>
#include <QGuiApplication>

#include <utility>

namespace erp {
namespace {

int g_cursor = crDefault;

const std::pair<int, Qt::CursorShape> kShapes[] = {
    {-1, Qt::BlankCursor},      {-2, Qt::ArrowCursor},     {-3, Qt::CrossCursor},
    {-4, Qt::IBeamCursor},      {-6, Qt::SizeBDiagCursor}, {-7, Qt::SizeVerCursor},
    {-8, Qt::SizeFDiagCursor},  {-9, Qt::SizeHorCursor},   {-10, Qt::UpArrowCursor},
    {crHourGlass, Qt::WaitCursor}, {-12, Qt::DragMoveCursor}, {-13, Qt::ForbiddenCursor},
    {-14, Qt::SplitHCursor},    {-15, Qt::SplitVCursor},   {-17, Qt::WaitCursor},
    {-18, Qt::ForbiddenCursor}, {-19, Qt::BusyCursor},     {-20, Qt::WhatsThisCursor},
    {-21, Qt::PointingHandCursor}, {-22, Qt::SizeAllCursor},
};

Qt::CursorShape shapeOf(int code)
{
    for (const auto &[c, shape] : kShapes) {
        if (c == code)
            return shape;
    }
    throw Error(QStringLiteral("Cursor de tela desconhecido: %1.").arg(code));
}

} // namespace

void setScreenCursor(int code)
{
    const Qt::CursorShape shape = code == crDefault ? Qt::ArrowCursor : shapeOf(code);
    if (code == g_cursor)
        return;
    if (g_cursor != crDefault)
        QGuiApplication::restoreOverrideCursor();
    if (code != crDefault)
        QGuiApplication::setOverrideCursor(QCursor(shape));
    g_cursor = code;
}

int screenCursor()
{
    return g_cursor;
}

HourglassCursor::HourglassCursor()
{
    setScreenCursor(crHourGlass);
}

HourglassCursor::~HourglassCursor()
{
    setScreenCursor(crDefault);
}

} // namespace erp
