// tarvel-web-worker: one teacher's session, started by tarvel-web with its socket as fd 3.
#include "web/worker_protocol.h"

int main() { return web::runWorker(3); }
