// Resource identifiers shared by the resource scripts and the code.
#pragma once

#define IDS_ABOUTBOX 101
#define IDS_APP_KEY 102
#define IDS_SETUP_SPOOLER 2000
