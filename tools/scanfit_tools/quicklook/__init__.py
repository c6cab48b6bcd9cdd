"""scanfit-quicklook: figures of one scanfit run or of a scanfit-batch campaign,
drawn from scanfit's output files alone."""
