// What the service does to a connection beyond answering on it: waiting that a stop can cut
// short, finding the socket of a request, and closing it without an answer.
#pragma once

#include <httplib.h>

#include <chrono>

namespace velmo_service {

// Set once by SIGTERM or SIGINT. Every wait of a fault (delay, rate, stall) ends early when it is
// set, so the service stops in bounded time however long the faults ask it to wait.
void RequestStop();
bool StopRequested();
// True when the whole time passed; false when a stop came first.
bool WaitUnlessStopped(std::chrono::milliseconds time);

// The socket a request arrived on, or -1. A TLS request knows its socket; for plain HTTP the
// connection is the one socket of the process whose two ends are the request's addresses.
int ConnectionSocket(const httplib::Request& req);
// Shuts the connection down in both directions: the client sees it close with no answer.
bool DropConnection(const httplib::Request& req);
// True when the client has closed its end (or the socket is gone).
bool PeerClosed(int socket);

}  // namespace velmo_service
