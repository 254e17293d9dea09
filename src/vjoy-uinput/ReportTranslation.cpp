#include "ReportTranslation.h"
