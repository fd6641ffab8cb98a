#include "probe_machine.h"

namespace heronau_test {

// The probe claims the function by its most specific identifier, so it is
// matched before HeronAU.
ProbeMachine::ProbeMachine()
    : probe_({.name = "heronau",
              .driverDirectory = HERONAU_PROBE_DIR,
              .service = "HeronAUProbe",
              .image = "HeronAUProbe.so",
              .hardwareId = "PCI\\VEN_4C58&DEV_4E20&SUBSYS_00014C58&REV_01",
              .driverObjectSymbol = "HeronProbeDriverObject",
              .firstDevice = 16},
             audio_) {}

NTSTATUS ProbeMachine::open(uint64_t* handle) {
    return kernel().createFile(process_, "\\\\.\\HeronAudioCap0", handle);
}

NTSTATUS ProbeMachine::control(uint64_t handle, uint32_t code, const void* input, uint32_t inputLength,
                               void* output, uint32_t outputLength, uint32_t* information) {
    uint32_t ignored = 0;
    return kernel().deviceIoControl(process_, handle, code, input, inputLength, output, outputLength,
                                    information ? information : &ignored);
}

NTSTATUS ProbeMachine::sendPnp(UCHAR minor, PCM_RESOURCE_LIST translated) {
    PIRP irp = probe_.allocateIrp();
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = IRP_MJ_PNP;
    stack->MinorFunction = minor;
    if (minor == IRP_MN_START_DEVICE) {
        stack->Parameters.StartDevice.AllocatedResources = translated;
        stack->Parameters.StartDevice.AllocatedResourcesTranslated = translated;
    }
    return probe_.sendAndWait(irp);
}

NTSTATUS ProbeMachine::sendIrp(UCHAR major) {
    PIRP irp = probe_.allocateIrp();
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    if (major == IRP_MJ_POWER) {
        stack->MinorFunction = IRP_MN_SET_POWER;
        stack->Parameters.Power.Type = DevicePowerState;
        stack->Parameters.Power.State.DeviceState = PowerDeviceD0;
    }
    return probe_.sendAndWait(irp);
}

NTSTATUS ProbeMachine::sendTransfer(UCHAR major, LONGLONG byteOffset) {
    PIRP irp = probe_.allocateIrp();
    char buffer[8] = {};
    irp->AssociatedIrp.SystemBuffer = buffer;
    irp->Flags |= IRP_BUFFERED_IO;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->Parameters.Read.Length = sizeof buffer;
    stack->Parameters.Read.ByteOffset.QuadPart = byteOffset;
    return probe_.sendAndWait(irp);
}

NTSTATUS ProbeMachine::sendFileRequest(PFILE_OBJECT file, UCHAR major, uint32_t code) {
    PIRP irp = probe_.allocateIrp();
    irp->Tail.Overlay.OriginalFileObject = file;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->FileObject = file;
    stack->Parameters.DeviceIoControl.IoControlCode = code;
    return probe_.sendAndWait(irp);
}

}  // namespace heronau_test
