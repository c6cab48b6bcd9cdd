"""scanfit-batch: a campaign of flights, one scanfit run per input, each into a
folder of its own, on this machine, on several through ssh, or on a Slurm
cluster, and one summary of them all. Standard library only."""
