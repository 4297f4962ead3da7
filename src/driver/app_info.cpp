#include "app_info.h"

AppInfo* appInfo = nullptr;

AppInfo::AppInfo() : title_("Application") {}

void AppInfo::SetTitle(const char* title) { title_ = title ? title : ""; }
