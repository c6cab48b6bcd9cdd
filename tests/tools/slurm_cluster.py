"""A Slurm cluster of one node on this machine, for the tests: munged, slurmctld
and slurmd from Debian's packages, everything in one fresh folder (its own
munge key, state, logs and sockets), on ports nobody uses. Needs root.

    with one_node_cluster(folder) as environment:
        subprocess.run([...sbatch...], env=environment)
"""

import contextlib
import os
import signal
import socket
import subprocess
import time

DAEMONS = ('/usr/sbin/munged', '/usr/sbin/slurmctld', '/usr/sbin/slurmd')


def free_ports(count):
    sockets = [socket.socket() for _ in range(count)]
    for s in sockets:
        s.bind(('127.0.0.1', 0))
    ports = [s.getsockname()[1] for s in sockets]
    for s in sockets:
        s.close()
    return ports


def configuration(folder, host, processors):
    controller_port, node_port = free_ports(2)
    return f"""\
ClusterName=scanfit
SlurmctldHost={host}(127.0.0.1)
SlurmctldPort={controller_port}
SlurmdPort={node_port}
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket={folder}/munge.socket
SlurmUser=root
SlurmdUser=root
StateSaveLocation={folder}/state
SlurmdSpoolDir={folder}/spool
SlurmctldPidFile={folder}/slurmctld.pid
SlurmdPidFile={folder}/slurmd.pid
SlurmctldLogFile={folder}/slurmctld.log
SlurmdLogFile={folder}/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
EnforcePartLimits=ALL
SchedulerParameters=batch_sched_delay=0
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
ReturnToService=2
NodeName={host} NodeAddr=127.0.0.1 CPUs={processors} State=UNKNOWN
PartitionName=test Nodes={host} Default=YES MaxTime=INFINITE State=UP
"""


def _start(argv, folder, name, environment):
    log = open(os.path.join(folder, name + '.out'), 'wb')
    return subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                            env=environment)


def _wait_until(test, seconds, what, folder):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if test():
            return
        time.sleep(0.1)
    logs = {name: open(os.path.join(folder, name), errors='replace').read()[-2000:]
            for name in sorted(os.listdir(folder)) if name.endswith(('.out', '.log'))}
    raise RuntimeError(f'the test cluster: {what} did not happen in {seconds} s: {logs}')


def _node_idle(environment):
    done = subprocess.run(['sinfo', '-h', '-o', '%t'], env=environment, capture_output=True)
    return done.stdout.strip() == b'idle'


@contextlib.contextmanager
def one_node_cluster(folder):
    """Brings the cluster up in `folder` (fresh, mode 0711: munged wants its
    socket's folder searchable by all) and takes it down again, every daemon
    gone, also when the body fails."""
    os.chmod(folder, 0o711)
    for part in ('state', 'spool'):
        os.mkdir(os.path.join(folder, part))
    key = os.path.join(folder, 'munge.key')
    with open(key, 'wb') as stream:
        stream.write(os.urandom(1024))
    os.chmod(key, 0o400)
    conf = os.path.join(folder, 'slurm.conf')
    with open(conf, 'w') as stream:
        stream.write(configuration(folder, socket.gethostname().split('.')[0],
                                   len(os.sched_getaffinity(0))))
    environment = {k: v for k, v in os.environ.items() if not k.startswith(('SLURM_', 'SBATCH_'))}
    environment['SLURM_CONF'] = conf
    daemons = []
    try:
        daemons.append(_start([DAEMONS[0], '--foreground', f'--socket={folder}/munge.socket',
                               f'--key-file={key}', f'--pid-file={folder}/munged.pid',
                               f'--log-file={folder}/munged.log',
                               f'--seed-file={folder}/munged.seed'], folder, 'munged',
                              environment))
        _wait_until(lambda: os.path.exists(f'{folder}/munge.socket'), 10, 'munged', folder)
        daemons.append(_start([DAEMONS[1], '-D', '-i'], folder, 'slurmctld', environment))
        daemons.append(_start([DAEMONS[2], '-D'], folder, 'slurmd', environment))
        _wait_until(lambda: _node_idle(environment), 30, 'an idle node', folder)
        yield environment
    finally:
        _take_down(daemons, environment)


def _take_down(daemons, environment):
    """scontrol shutdown ends slurmctld and slurmd, munged its signal; any that
    does not end in time is killed, by its process id."""
    if len(daemons) > 1:
        # Jobs still there end first, so that no job step outlives the node.
        subprocess.run(['scancel', '--user=root'], env=environment, capture_output=True)
        end = time.monotonic() + 20
        while time.monotonic() < end and subprocess.run(
                ['squeue', '-h'], env=environment, capture_output=True).stdout.strip():
            time.sleep(0.2)
        subprocess.run(['scontrol', 'shutdown'], env=environment, capture_output=True)
    for daemon in reversed(daemons):
        if daemon.poll() is None and daemon is daemons[0]:
            daemon.send_signal(signal.SIGTERM)
        try:
            daemon.wait(timeout=15)
        except subprocess.TimeoutExpired:
            daemon.kill()
            daemon.wait()
