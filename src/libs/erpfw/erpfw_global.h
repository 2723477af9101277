#pragma once

#include <QtCore/qglobal.h>

#if defined(ERPFW_LIBRARY)
#  define ERPFW_EXPORT Q_DECL_EXPORT
#else
#  define ERPFW_EXPORT Q_DECL_IMPORT
#endif
