#include "common/log.h"

Q_LOGGING_CATEGORY(lcApp, "orvane.app")
Q_LOGGING_CATEGORY(lcStore, "orvane.store")
Q_LOGGING_CATEGORY(lcSite, "orvane.site")
Q_LOGGING_CATEGORY(lcMedia, "orvane.media")
Q_LOGGING_CATEGORY(lcExport, "orvane.export")
