// sabunn: the publisher's tool for update payloads (sabunn.h).
#include "tools/sabunn/sabunn.h"

int main(int argc, char** argv) {
    return morivane::sabunn::RunSabunn(argc, argv, morivane::sabunn::MakeUpdateFileSystem);
}
