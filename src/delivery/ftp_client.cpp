#include "delivery/ftp_client.h"
