// The ES module entry: the CommonJS exports, each under its own name.
import zel from './index.js';

export const {
  Compiler, Executer, Commandes, run, exec, compile, createPool, createQueue, createWorker, ZelError,
} = zel;
export default zel;
