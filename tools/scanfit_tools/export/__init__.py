"""scanfit-export: the results of a scanfit run or campaign as GIS layers, CSV
tables or a LAS point cloud, read from scanfit's output files alone."""
