#include "app_info.h"

AppInfo* run::appInfo = nullptr;

AppInfo::AppInfo() : title_("Application") {}

void AppInfo::SetTitle(const char* title) { title_ = title ? title : ""; }
