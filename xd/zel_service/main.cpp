// Process entry of zel_svc.exe.
#include "service.h"

int main() {
    return zel_svc::ServiceProcessEntry();
}
