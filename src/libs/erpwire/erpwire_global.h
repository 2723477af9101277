#pragma once

#include <QtCore/qglobal.h>

#if defined(ERPWIRE_LIBRARY)
#  define ERPWIRE_EXPORT Q_DECL_EXPORT
#else
#  define ERPWIRE_EXPORT Q_DECL_IMPORT
#endif
