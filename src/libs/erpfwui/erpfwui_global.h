#pragma once

#include <QtCore/qglobal.h>

#if defined(ERPFWUI_LIBRARY)
#  define ERPFWUI_EXPORT Q_DECL_EXPORT
#else
#  define ERPFWUI_EXPORT Q_DECL_IMPORT
#endif
